#include "fit/penalized_fit.hpp"

#include "common/checks.hpp"
#include "fit/ldlt_solve.hpp"
#include "kernels/cross_products.hpp"

#include <Eigen/Cholesky>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexa {

Eigen::VectorXd fit_regularized_linear(const StridedMatrix& Phi,
                                       const Eigen::Ref<const Eigen::VectorXd>& y,
                                       const PenaltyTerms& terms, double ridge,
                                       const Cancellation& cancel, SimdPath path) {
    const Eigen::Index p = Phi.cols();
    const Eigen::Index n = y.size();
    require_rows(Phi.rows(), "Phi", n, "y");
    check_penalty_shapes(terms, p, "Phi");
    require_allocatable(p, p);
    // No coefficients: nothing to form or solve.
    if (p == 0) return Eigen::VectorXd();

    // The lower triangle of [Phi y]^T [Phi y] holds A = Phi^T Phi in its top-left
    // p x p corner and b = Phi^T y in its last row, formed in one pass over Phi
    // in an order that every instruction set reproduces bit for bit. LDLT reads
    // only the lower triangle, so only that is formed (the upper triangles of the
    // penalties are added there but never read).
    const Eigen::Index m = p + 1;
    // The products and the groups' lane accumulators (at most about as many again).
    require_allocatable(m, m, 2);
    Eigen::MatrixXd products = Eigen::MatrixXd::Zero(m, m);
    std::vector<const double*> columns(static_cast<std::size_t>(m));
    std::vector<std::int64_t> row_steps(static_cast<std::size_t>(m), Phi.rowStride());
    for (Eigen::Index j = 0; j < p; ++j)
        columns[static_cast<std::size_t>(j)] = Phi.data() + j * Phi.colStride();
    columns[static_cast<std::size_t>(p)] = y.data();
    row_steps[static_cast<std::size_t>(p)] = 1;
    cross_products(columns.data(), row_steps.data(), m, n, products.data(), path, cancel);

    // A is formed and factorized in place, in the products' top-left corner.
    const Eigen::VectorXd b = products.row(p).head(p).transpose();
    Eigen::Ref<Eigen::MatrixXd> A = products.topLeftCorner(p, p);
    A.diagonal().array() += ridge;
    terms.for_each_used([&](const Eigen::MatrixXd& R, double gamma, const char*) {
        const double scale = static_cast<double>(n) * gamma;
        A += scale * R;
    });
    const Eigen::LDLT<Eigen::Ref<Eigen::MatrixXd>> ldlt(A);
    return ldlt_solve(ldlt, b);
}

}  // namespace vexa
