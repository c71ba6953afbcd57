#pragma once
// Multi-indices of the tensor-product monomial basis: entry j of a MultiIndex is
// the power of input variable j. The position of a MultiIndex in a list is the
// column of its basis function in a design matrix and its row and column in the
// penalty matrices.

#include <Eigen/Core>

#include <vector>

namespace vexa {

using MultiIndex = std::vector<int>;
using MultiIndexList = std::vector<MultiIndex>;

// ValueError "degrees[j] is D but must be at least 0" for the first negative degree.
void require_nonnegative_degrees(const std::vector<int>& degrees);

// q = (D_0 + 1) ... (D_{d-1} + 1), 1 for no dimensions. A negative degree is a
// ValueError naming it; a count that overflows Eigen::Index is a MemoryError.
Eigen::Index tensor_basis_size(const std::vector<int>& degrees);

// The full tensor set 0 <= m_j <= D_j in lexicographic order, dimension 0
// slowest: [1, 2] gives [0,0] [0,1] [0,2] [1,0] [1,1] [1,2]; [] gives [[]].
MultiIndexList enumerate_multi_indices(const std::vector<int>& degrees);

}  // namespace vexa
