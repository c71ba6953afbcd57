#include "fit/least_squares.hpp"

#include "common/checks.hpp"
#include "fit/tall_qr.hpp"

#include <Eigen/QR>
#include <Eigen/SVD>

#include <cmath>
#include <limits>

namespace vexa {

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
constexpr double kSmallestNormal = std::numeric_limits<double>::min();
// How far every singular value must clear the rank threshold for R to be solved
// by back substitution: room for the rounding of the computed inverse.
constexpr double kMargin = 64.0;

Eigen::VectorXd nan_vector(Eigen::Index size) {
    return Eigen::VectorXd::Constant(size, std::numeric_limits<double>::quiet_NaN());
}

Eigen::VectorXd scaled(Eigen::VectorXd v, int exponent) {
    scale_by_power_of_two(v.data(), v.size(), exponent);
    return v;
}

// Minimum-norm solution through the thin SVD of A, where A is the caller's matrix
// times 2^-exponent. A singular value counts when it is at least epsilon times
// min(rows, cols) times the largest and, in the caller's units, at least the
// smallest normal double: Eigen's default rank threshold, kept for the caller's
// matrix rather than the scaled one.
Eigen::VectorXd svd_solve(const Eigen::MatrixXd& A, const Eigen::VectorXd& b, int exponent) {
    const Eigen::BDCSVD<Eigen::MatrixXd> svd(A, Eigen::ComputeThinU | Eigen::ComputeThinV);
    // A NaN or infinite entry leaves the factors and singular values unset
    // (InvalidInput): the solve would read uninitialised memory.
    if (svd.info() != Eigen::Success) return nan_vector(A.cols());
    const Eigen::VectorXd& s = svd.singularValues();
    Eigen::Index rank = 0;
    if (s.size() > 0) {
        const double relative =
            s[0] * (static_cast<double>(std::max<Eigen::Index>(1, s.size())) * kEpsilon);
        rank = svd.nonzeroSingularValues();
        while (rank > 0 &&
               !(s[rank - 1] >= relative && std::ldexp(s[rank - 1], exponent) >= kSmallestNormal))
            --rank;
    }
    Eigen::VectorXd tmp = svd.matrixU().leftCols(rank).adjoint() * b;
    tmp = s.head(rank).asDiagonal().inverse() * tmp;
    return svd.matrixV().leftCols(rank) * tmp;
}

// Whether every singular value of the upper-triangular R (the caller's factor
// times 2^-exponent) clears the rank threshold by kMargin: the largest is at most
// ‖R‖_F and the smallest at least 1 / ‖R⁻¹‖_F. The SVD would then keep them all,
// and back substitution gives the same solution for a fraction of the work.
bool clears_rank_threshold(const Eigen::MatrixXd& R, int exponent) {
    const Eigen::Index p = R.cols();
    const Eigen::MatrixXd inverse =
        R.triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(p, p));
    const double smallest = 1.0 / inverse.norm();
    return std::isfinite(inverse.norm()) &&
           smallest >= kMargin * R.norm() * (static_cast<double>(p) * kEpsilon) &&
           std::ldexp(smallest, exponent) >= kMargin * kSmallestNormal;
}

// The SVD of X itself: a scaled copy of X, and y scaled apart.
Eigen::VectorXd direct_svd_solve(const StridedMatrix& X, const Eigen::VectorXd& y) {
    require_allocatable(X.rows(), X.cols());
    Eigen::MatrixXd A = X;
    if (!A.allFinite()) return nan_vector(A.cols());
    const int x_exponent = scale_exponent(A.cwiseAbs().maxCoeff());
    const int y_exponent = y.allFinite() ? scale_exponent(y.cwiseAbs().maxCoeff()) : 0;
    scale_by_power_of_two(A.data(), A.size(), -x_exponent);
    return scaled(svd_solve(A, scaled(y, -y_exponent), x_exponent), y_exponent - x_exponent);
}

// A wide design (n < p): with Xᵀ = Q [R; 0] (R: n x n), X = [Rᵀ 0] Qᵀ, and when
// R clears the rank threshold the minimum-norm solution is Q [R⁻ᵀ y; 0]. Otherwise
// the SVD of X itself decides which singular values count.
Eigen::VectorXd wide_solve(const StridedMatrix& X, const Eigen::VectorXd& y) {
    require_allocatable(X.rows(), X.cols());
    Eigen::MatrixXd A = X.transpose();
    if (!A.allFinite()) return nan_vector(A.rows());
    const int x_exponent = scale_exponent(A.cwiseAbs().maxCoeff());
    const int y_exponent = y.allFinite() ? scale_exponent(y.cwiseAbs().maxCoeff()) : 0;
    scale_by_power_of_two(A.data(), A.size(), -x_exponent);

    const Eigen::HouseholderQR<Eigen::MatrixXd> qr(A);
    const Eigen::Index n = A.cols();
    const Eigen::MatrixXd R = qr.matrixQR().topRows(n).triangularView<Eigen::Upper>();
    if (!clears_rank_threshold(R, x_exponent)) return direct_svd_solve(X, y);
    Eigen::VectorXd z = Eigen::VectorXd::Zero(A.rows());
    z.head(n) = R.transpose().triangularView<Eigen::Lower>().solve(scaled(y, -y_exponent));
    return scaled(qr.householderQ() * z, y_exponent - x_exponent);
}

}  // namespace

Eigen::VectorXd ols(const StridedMatrix& X, const Eigen::VectorXd& y, const Cancellation& cancel) {
    require_rows(X.rows(), "X", y.size(), "y");
    const Eigen::Index n = X.rows();
    const Eigen::Index p = X.cols();
    require_allocatable(p, 1);
    // Eigen's SVD of a matrix without rows or columns reads outside its storage.
    if (n == 0 || p == 0) return Eigen::VectorXd::Zero(p);

    // Every path works on X and y scaled by powers of two to entries below 1, so
    // that no square overflows or vanishes whatever the units: exact, so at
    // ordinary scales the bits are those of the unscaled problem.
    if (n < p) return wide_solve(X, y);

    // With X = Q [R; 0] (R: p x p), the SVD of R carries the singular values and
    // right vectors of X, so solving R beta = (Qᵀy)[0:p] gives the same
    // minimum-norm solution with the same rank threshold, at a fraction of the
    // cost of bidiagonalising all n rows.
    const TallQr reduced = tall_qr(X, y, cancel);
    if (!reduced.finite) return nan_vector(p);
    const int shift = reduced.y_exponent - reduced.x_exponent;
    if (clears_rank_threshold(reduced.R, reduced.x_exponent))
        return scaled(reduced.R.triangularView<Eigen::Upper>().solve(reduced.Qty), shift);
    // Below 2p rows the SVD of X costs little more than that of R: X's own
    // decides, as it always has for such designs (a symmetric rank-one X keeps
    // its exact solution).
    if (n < 2 * p) return direct_svd_solve(X, y);
    return scaled(svd_solve(reduced.R, reduced.Qty, reduced.x_exponent), shift);
}

}  // namespace vexa
