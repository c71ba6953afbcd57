#include "basis/multi_indices.hpp"

#include "common/checks.hpp"

#include <stdexcept>
#include <string>

namespace vexa {

void require_nonnegative_degrees(const std::vector<int>& degrees) {
    for (std::size_t j = 0; j < degrees.size(); ++j) {
        if (degrees[j] < 0)
            throw std::invalid_argument("degrees[" + std::to_string(j) + "] is " +
                                        std::to_string(degrees[j]) + " but must be at least 0");
    }
}

Eigen::Index tensor_basis_size(const std::vector<int>& degrees) {
    require_nonnegative_degrees(degrees);
    Eigen::Index q = 1;
    for (int D : degrees) q = checked_mul(q, static_cast<Eigen::Index>(D) + 1);
    return q;
}

MultiIndexList enumerate_multi_indices(const std::vector<int>& degrees) {
    const Eigen::Index q = tensor_basis_size(degrees);
    const auto d = static_cast<Eigen::Index>(degrees.size());
    // Each entry holds a vector header and d ints; sized in doubles, generously.
    require_allocatable(q, d + 4);
    MultiIndexList out;
    out.reserve(static_cast<std::size_t>(q));
    // An odometer, the last dimension fastest; no recursion, so any number of
    // dimensions fits on the stack.
    MultiIndex work(degrees.size(), 0);
    for (;;) {
        out.push_back(work);
        std::size_t j = work.size();
        while (j > 0 && work[j - 1] == degrees[j - 1]) work[--j] = 0;
        if (j == 0) return out;
        ++work[j - 1];
    }
}

}  // namespace vexa
