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

// (R1, R2, multi-indices). On the full tensor grid each entry factorises,
//   sum_g prod_j T_j[g_j][m_j] T_j[g_j][m'_j] = prod_j (T_j' T_j)[m_j][m'_j],
// so the matrices are sums of Kronecker products of small per-dimension Gram
// matrices; no grid-sized matrix is formed and memory does not depend on G.
// The grid sums and the Kronecker terms check `cancel`.
PenaltiesND build_penalty_matrices_nd(const std::vector<int>& degrees, const Bounds& bounds,
                                      int n_grid_per_dim,
                                      const Cancellation& cancel = Cancellation());

// The same matrices by brute force: for every derivative pattern, the G^d x q
// matrix B of basis derivatives at every grid point, added as w * B'B by a
// selfadjoint rank update. The reference for the factorised form; memory grows
// as G^d * q, and a grid that cannot be held is a MemoryError. Checks `cancel`
// once per column of each B.
PenaltiesND build_penalty_matrices_nd_grid(const std::vector<int>& degrees, const Bounds& bounds,
                                           int n_grid_per_dim,
                                           const Cancellation& cancel = Cancellation());

}  // namespace vexa
