#pragma once
// Gradient and curvature penalties of the tensor-product monomial basis, summed
// over the full tensor grid of G^d points with the common weight w (see
// tensor_grid.hpp). For every beta with function f:
//   beta' R1 beta = w * sum_g |grad f(g)|^2,
//   beta' R2 beta = w * sum_g sum_a sum_b (d^2 f / dx_a dx_b at g)^2.
// Rows and columns follow enumerate_multi_indices(degrees).

#include "basis/multi_indices.hpp"
#include "basis/tensor_grid.hpp"
#include "common/cancellation.hpp"

#include <Eigen/Core>

#include <tuple>
#include <vector>

namespace vexa {

using PenaltiesND = std::tuple<Eigen::MatrixXd, Eigen::MatrixXd, MultiIndexList>;

// (R1, R2, multi-indices). Checked first, in this order: "Dimension mismatch."
// when degrees and bounds differ in length; a negative degree; n_grid_per_dim < 2
// (ValueErrors); then q = prod (D_j + 1) and the q x q results must be
// representable and fit in memory (MemoryError). Nothing is allocated before.
// On the full tensor grid each entry factorises,
//   sum_g prod_j T_j[g_j][m_j] T_j[g_j][m'_j] = prod_j (T_j' T_j)[m_j][m'_j],
// so the matrices are sums of Kronecker products of small per-dimension Gram
// matrices; no grid-sized matrix is formed and memory does not depend on G.
// The grid sums and the Kronecker terms check `cancel`.
PenaltiesND build_penalty_matrices_nd(const std::vector<int>& degrees, const Bounds& bounds,
                                      int n_grid_per_dim,
                                      const Cancellation& cancel = Cancellation());

}  // namespace vexa
