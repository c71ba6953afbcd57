#pragma once
// The full tensor grid on which the multi-dimensional penalties are summed:
// G = n_grid_per_dim points per dimension, those of Eigen's LinSpaced(G, lo_j,
// hi_j), and one common weight w = s_0 * s_1 * ... with s_j = (hi_j - lo_j)/(G - 1).

#include <utility>
#include <vector>

namespace vexa {

using Bounds = std::vector<std::pair<double, double>>;

}  // namespace vexa
