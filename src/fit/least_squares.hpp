#pragma once
// Plain least squares through a singular value decomposition.

#include "common/cancellation.hpp"
#include "common/strided_matrix.hpp"

#include <Eigen/Core>

namespace vexa {

// Minimum-norm least-squares coefficients of y ~ X * beta; X: n x p, y: n, result: p.
// Singular values below Eigen's default rank threshold count as zero, so
// rank-deficient and wide (p > n) designs solve without error. XᵀX is never
// formed. An empty design gives the zero vector; a design with a non-finite
// entry gives NaN in every component. ValueError when X rows != len(y).
// X is read where it lies, in any layout: a design with at least as many rows as
// columns is reduced by tall_qr, which checks `cancel` as it goes; a wide one is
// copied and reduced by a QR of its transpose. Where every singular value clears
// the threshold by a wide margin, the triangular factor is solved by substitution;
// otherwise its SVD (or the wide design's) decides.
Eigen::VectorXd ols(const StridedMatrix& X, const Eigen::VectorXd& y,
                    const Cancellation& cancel = Cancellation());

}  // namespace vexa
