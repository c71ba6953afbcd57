#include "fit/penalized_fit.hpp"

#include "common/checks.hpp"
#include "fit/ldlt_solve.hpp"

#include <Eigen/Cholesky>

namespace vexa {

Eigen::VectorXd fit_regularized_linear(const Eigen::MatrixXd& Phi, const Eigen::VectorXd& y,
                                       const PenaltyTerms& terms, double ridge) {
    const Eigen::Index p = Phi.cols();
    const Eigen::Index n = y.size();
    require_rows(Phi, "Phi", n, "y");
    check_penalty_shapes(terms, p, "Phi");
    require_allocatable(p, p);
    // No coefficients; Eigen's products would bind references to the null data of Phi.
    if (p == 0) return Eigen::VectorXd();

    // A: p x p. LDLT reads only the lower triangle, so the rank update fills only that
    // (the upper triangles of the penalties are added there but never read).
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(p, p);
    A.selfadjointView<Eigen::Lower>().rankUpdate(Phi.transpose());
    A.diagonal().array() += ridge;
    terms.for_each_used([&](const Eigen::MatrixXd& R, double gamma, const char*) {
        const double scale = static_cast<double>(n) * gamma;
        A += scale * R;
    });
    const Eigen::VectorXd b = Phi.transpose() * y;

    const Eigen::LDLT<Eigen::MatrixXd> ldlt(A);
    return ldlt_solve(ldlt, b);
}

}  // namespace vexa
