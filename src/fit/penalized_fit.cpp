#include "fit/penalized_fit.hpp"

#include "common/checks.hpp"
#include "fit/ldlt_solve.hpp"
#include "stats/description_length.hpp"

#include <Eigen/Cholesky>

namespace vexa {

Eigen::VectorXd fit_regularized_linear(const Eigen::MatrixXd& Phi, const Eigen::VectorXd& y,
                                       const Eigen::MatrixXd* R1, const Eigen::MatrixXd* R2,
                                       double gamma1, double gamma2, double ridge) {
    const Eigen::Index p = Phi.cols();
    const Eigen::Index n = y.size();
    require_rows(Phi, "Phi", n, "y");
    check_penalty_shapes(PenaltyTerms{R1, R2, gamma1, gamma2}, p, "Phi");
    require_allocatable(p, p);
    // No coefficients; Eigen's products would bind references to the null data of Phi.
    if (p == 0) return Eigen::VectorXd();

    // A: p x p. LDLT reads only the lower triangle, so the rank update fills only that
    // (the upper triangles of the penalties are added there but never read).
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(p, p);
    A.selfadjointView<Eigen::Lower>().rankUpdate(Phi.transpose());
    A.diagonal().array() += ridge;
    if (gamma1 != 0.0 && R1 != nullptr) {
        const double s1 = static_cast<double>(n) * gamma1;
        A += s1 * *R1;
    }
    if (gamma2 != 0.0 && R2 != nullptr) {
        const double s2 = static_cast<double>(n) * gamma2;
        A += s2 * *R2;
    }
    const Eigen::VectorXd b = Phi.transpose() * y;

    const Eigen::LDLT<Eigen::MatrixXd> ldlt(A);
    return ldlt_solve(ldlt, b);
}

}  // namespace vexa
