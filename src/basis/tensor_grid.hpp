#pragma once
// The full tensor grid on which the multi-dimensional penalties are summed:
// G = n_grid_per_dim points per dimension, those of Eigen's LinSpaced(G, lo_j,
// hi_j), and one common weight w = s_0 * s_1 * ... with s_j = (hi_j - lo_j)/(G - 1).

#include <Eigen/Core>

#include <utility>
#include <vector>

namespace vexa {

using Bounds = std::vector<std::pair<double, double>>;

// w = 1.0 * s_0 * s_1 * ... * s_{d-1}, multiplied in dimension order; 1.0 for d = 0.
// A pair with hi < lo makes its s_j, and so w, negative.
double tensor_grid_weight(const Bounds& bounds, int n_grid_per_dim);

}  // namespace vexa
