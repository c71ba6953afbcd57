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
// X is read where it lies, in any layout: a tall X is reduced by tall_qr, which
// checks `cancel` as it goes.
Eigen::VectorXd ols(const StridedMatrix& X, const Eigen::VectorXd& y,
                    const Cancellation& cancel = Cancellation());

}  // namespace vexa
