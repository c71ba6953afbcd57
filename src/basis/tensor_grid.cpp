#include "basis/tensor_grid.hpp"

#include "basis/multi_indices.hpp"
#include "common/checks.hpp"

#include <stdexcept>
#include <string>

namespace vexa {

Eigen::Index check_penalty_nd_args(const std::vector<int>& degrees, const Bounds& bounds,
                                   int n_grid_per_dim, Eigen::Index q_by_q) {
    if (degrees.size() != bounds.size()) throw std::invalid_argument("Dimension mismatch.");
    require_nonnegative_degrees(degrees);
    if (n_grid_per_dim < 2)
        throw std::invalid_argument("n_grid_per_dim is " + std::to_string(n_grid_per_dim) +
                                    " but must be at least 2");
    const Eigen::Index q = tensor_basis_size(degrees);
    require_allocatable(q, q, q_by_q);
    return q;
}

double tensor_grid_weight(const Bounds& bounds, int n_grid_per_dim) {
    const double steps = static_cast<double>(n_grid_per_dim - 1);
    double w = 1.0;
    for (const auto& [lo, hi] : bounds) w = w * ((hi - lo) / steps);
    return w;
}

}  // namespace vexa
