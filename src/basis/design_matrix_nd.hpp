#pragma once
// Design matrix of a tensor-product monomial basis on samples of d variables.

#include "basis/multi_indices.hpp"
#include "common/cancellation.hpp"

#include <Eigen/Core>

#include <vector>

namespace vexa {

// Phi: n x q, Phi[r][c] = prod_j X_cols[j][r]^multi_indices[c][j], with n the
// length of X_cols[0], d the number of columns and q the number of multi-indices.
// Each power is Eigen's coefficient-wise pow; exponents <= 0 contribute nothing
// (exactly 1.0, also for NaN); entries past d - 1 are not read. ValueError for an
// empty X_cols, a column shorter than X_cols[0] or a multi-index shorter than d.
// Checks `cancel` before each column.
Eigen::MatrixXd design_matrix_nd(const MultiIndexList& multi_indices,
                                 const std::vector<Eigen::VectorXd>& X_cols,
                                 const Cancellation& cancel = Cancellation());

}  // namespace vexa
