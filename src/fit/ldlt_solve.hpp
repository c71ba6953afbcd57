#pragma once
// The solve of a symmetric-pivoting LDLT factorization, A = Pᵀ L D Lᵀ P.

#include <Eigen/Cholesky>
#include <Eigen/Core>

namespace vexa {

// x with A x = b. A pivot of D whose magnitude is at most the smallest normal
// double gives a zero component (the pseudo-inverse of a semi-definite D); every
// other pivot divides, so a NaN pivot gives NaN instead of a silent zero.
// A NaN pivot anywhere makes every component NaN. Otherwise the same steps, in
// the same order, as Eigen's own LDLT solve.
// For a factorization held in its own matrix or made in place in a caller's.
template <typename Matrix>
Eigen::VectorXd ldlt_solve(const Eigen::LDLT<Matrix>& ldlt, const Eigen::VectorXd& b);

}  // namespace vexa
