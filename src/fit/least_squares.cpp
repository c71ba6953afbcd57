#include "fit/least_squares.hpp"

#include "common/checks.hpp"
#include "fit/tall_qr.hpp"

#include <Eigen/SVD>

#include <limits>

namespace vexa {

namespace {

// Minimum-norm solution through the thin SVD of A, with Eigen's default rank
// threshold (epsilon times min(rows, cols) relative to the largest singular value).
Eigen::VectorXd svd_solve(const Eigen::MatrixXd& A, const Eigen::VectorXd& b) {
    const Eigen::BDCSVD<Eigen::MatrixXd> svd(A, Eigen::ComputeThinU | Eigen::ComputeThinV);
    // A NaN or infinite entry leaves the factors and singular values unset
    // (InvalidInput): the solve would read uninitialised memory.
    if (svd.info() != Eigen::Success)
        return Eigen::VectorXd::Constant(A.cols(), std::numeric_limits<double>::quiet_NaN());
    return svd.solve(b);
}

}  // namespace

Eigen::VectorXd ols(const StridedMatrix& X, const Eigen::VectorXd& y, const Cancellation& cancel) {
    require_rows(X.rows(), "X", y.size(), "y");
    const Eigen::Index n = X.rows();
    const Eigen::Index p = X.cols();
    require_allocatable(p, 1);
    // Eigen's SVD of a matrix without rows or columns reads outside its storage.
    if (n == 0 || p == 0) return Eigen::VectorXd::Zero(p);
    if (n < 2 * p) return svd_solve(X, y);

    // A tall design is reduced first: with X = Q [R; 0], the SVD of the p x p
    // factor R carries the singular values and right vectors of X, so solving
    // R beta = (Q^T y)[0:p] gives the same minimum-norm solution with the same
    // rank threshold, at a fraction of the cost of bidiagonalising all n rows.
    const TallQr reduced = tall_qr(X, y, cancel);
    return svd_solve(reduced.R, reduced.Qty);
}

}  // namespace vexa
