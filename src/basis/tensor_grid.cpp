#include "basis/tensor_grid.hpp"

namespace vexa {

double tensor_grid_weight(const Bounds& bounds, int n_grid_per_dim) {
    const double steps = static_cast<double>(n_grid_per_dim - 1);
    double w = 1.0;
    for (const auto& [lo, hi] : bounds) w = w * ((hi - lo) / steps);
    return w;
}

}  // namespace vexa
