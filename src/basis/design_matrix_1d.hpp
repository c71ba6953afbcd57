#pragma once
// Design matrix of the one-dimensional monomial basis on a sample.

#include "common/cancellation.hpp"

#include <Eigen/Core>

namespace vexa {

// Phi: n x (deg + 1), Phi[r][k] = x_r^k as a running product (one rounding per
// power, no pow), column 0 the constant 1.0 also where x is NaN or infinite.
// deg < 0 is a ValueError "deg < 0"; a matrix too large to hold is a MemoryError.
// Checks `cancel` before each column.
Eigen::MatrixXd design_matrix_1d(int deg, const Eigen::VectorXd& x,
                                 const Cancellation& cancel = Cancellation());

}  // namespace vexa
