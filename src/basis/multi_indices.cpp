#include "basis/multi_indices.hpp"

#include "common/checks.hpp"

#include <cstdint>
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

namespace {

void enumerate_from(const std::vector<int>& degrees, std::size_t depth, MultiIndex& work,
                    MultiIndexList& out) {
    if (depth == degrees.size()) {
        out.push_back(work);
        return;
    }
    // A 64-bit counter: an int one would overflow when the degree is INT_MAX.
    for (std::int64_t i = 0; i <= degrees[depth]; ++i) {
        work[depth] = static_cast<int>(i);
        enumerate_from(degrees, depth + 1, work, out);
    }
}

}  // namespace

MultiIndexList enumerate_multi_indices(const std::vector<int>& degrees) {
    const Eigen::Index q = tensor_basis_size(degrees);
    const auto d = static_cast<Eigen::Index>(degrees.size());
    // Each entry holds a vector header and d ints; sized in doubles, generously.
    require_allocatable(q, d + 4);
    MultiIndexList out;
    out.reserve(static_cast<std::size_t>(q));
    MultiIndex work(degrees.size(), 0);
    enumerate_from(degrees, 0, work, out);
    return out;
}

}  // namespace vexa
