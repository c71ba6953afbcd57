#include "basis/penalties_1d.hpp"

#include "basis/monomials.hpp"
#include "common/checks.hpp"

#include <stdexcept>
#include <string>
#include <utility>

namespace vexa {

namespace {

// R[j][l] = h * (d[j] * d[l]) + R[j][l], in this evaluation order; one
// vectorised pass per column.
void add_scaled_outer(Eigen::MatrixXd& R, const Eigen::VectorXd& d, double h) {
    const Eigen::Index p = d.size();
    for (Eigen::Index l = 0; l < p; ++l) R.col(l) = h * (d * d[l]) + R.col(l);
}

}  // namespace

std::tuple<Eigen::MatrixXd, Eigen::MatrixXd> smoothness_penalty_matrices_1d(
    int deg, double x_min, double x_max, int n_grid, const Cancellation& cancel) {
    if (deg < 0) throw std::invalid_argument("deg < 0");
    if (n_grid < 2) throw std::invalid_argument("n_grid < 2");
    const Eigen::Index p = static_cast<Eigen::Index>(deg) + 1;
    require_allocatable(p, p, 2);

    Eigen::MatrixXd R1 = Eigen::MatrixXd::Zero(p, p);
    Eigen::MatrixXd R2 = Eigen::MatrixXd::Zero(p, p);
    const double h = (x_max - x_min) / static_cast<double>(n_grid - 1);
    Eigen::VectorXd d1(p), d2(p);
    ThrottledCheck check(cancel, checked_mul(p, p));
    for (int i = 0; i < n_grid; ++i) {
        check.tick();
        const double x = static_cast<double>(i) * h + x_min;
        derivative_rows_into(deg, x, d1, d2);
        add_scaled_outer(R1, d1, h);
        add_scaled_outer(R2, d2, h);
    }
    return {std::move(R1), std::move(R2)};
}

Eigen::MatrixXd boundary_reduce_1d(int deg, double x_min, double x_max) {
    if (deg < -1)
        throw std::invalid_argument("deg is " + std::to_string(deg) + " but must be at least -1");
    const Eigen::Index p = static_cast<Eigen::Index>(deg) + 1;
    require_allocatable(p, p, 2);

    const Eigen::VectorXd a1 = monomial_row(deg, x_min, 1);
    const Eigen::VectorXd a2 = monomial_row(deg, x_min, 2);
    const Eigen::VectorXd b1 = monomial_row(deg, x_max, 1);
    const Eigen::VectorXd b2 = monomial_row(deg, x_max, 2);

    // M = b2 b1' - a2 a1': rows follow the second derivative, columns the first.
    Eigen::MatrixXd M(p, p);
    for (Eigen::Index l = 0; l < p; ++l)
        for (Eigen::Index j = 0; j < p; ++j) {
            M(j, l) = b2[j] * b1[l];
            M(j, l) = M(j, l) - a2[j] * a1[l];
        }
    Eigen::MatrixXd B(p, p);
    for (Eigen::Index l = 0; l < p; ++l)
        for (Eigen::Index j = 0; j < p; ++j) B(j, l) = (M(j, l) + M(l, j)) * 0.5;
    return B;
}

}  // namespace vexa
