#pragma once
// Plain least squares through a singular value decomposition.

#include <Eigen/Core>

namespace vexa {

// Minimum-norm least-squares coefficients of y ~ X * beta; X: n x p, y: n, result: p.
// Singular values below Eigen's default rank threshold count as zero, so
// rank-deficient and wide (p > n) designs solve without error. XᵀX is never
// formed. An empty design gives the zero vector; a design with a non-finite
// entry gives NaN in every component. ValueError when X rows != len(y).
// X is taken by value and factored in place: a caller that moves its matrix in
// saves the copy of n x p doubles.
Eigen::VectorXd ols(Eigen::MatrixXd X, const Eigen::VectorXd& y);

}  // namespace vexa
