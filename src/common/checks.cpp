#include "common/checks.hpp"

#include "common/memory_budget.hpp"

#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

namespace vexa {

namespace {

[[noreturn]] void throw_entries(Eigen::Index have, const char* name, Eigen::Index need,
                                const char* other) {
    throw std::invalid_argument(std::string(name) + " has " + std::to_string(have) +
                                " entries but " + other + " has " + std::to_string(need));
}

}  // namespace

void require_entries(Eigen::Index have, const char* name, Eigen::Index need, const char* other) {
    if (have < need) throw_entries(have, name, need, other);
}

void require_same_entries(Eigen::Index have, const char* name, Eigen::Index need,
                          const char* other) {
    if (have != need) throw_entries(have, name, need, other);
}

void require_rows(Eigen::Index rows, const char* name, Eigen::Index need, const char* other) {
    if (rows != need) {
        throw std::invalid_argument(std::string(name) + " has " + std::to_string(rows) +
                                    " rows but " + other + " has " + std::to_string(need) +
                                    " entries");
    }
}

void require_square_penalty(const Eigen::MatrixXd& R, const char* name, Eigen::Index p,
                            const std::string& source) {
    if (R.rows() != p || R.cols() != p) {
        throw std::invalid_argument(std::string(name) + " is " + std::to_string(R.rows()) + " x " +
                                    std::to_string(R.cols()) + " but must be " + std::to_string(p) +
                                    " x " + std::to_string(p) + " (" + source + ")");
    }
}

Eigen::Index checked_mul(Eigen::Index a, Eigen::Index b) {
    if (a < 0 || b < 0) throw std::bad_alloc();
    if (a != 0 && b > std::numeric_limits<Eigen::Index>::max() / a) throw std::bad_alloc();
    return a * b;
}

void require_allocatable(Eigen::Index rows, Eigen::Index cols, Eigen::Index count) {
    const Eigen::Index doubles = checked_mul(checked_mul(rows, cols), count);
    const Eigen::Index bytes = checked_mul(doubles, static_cast<Eigen::Index>(sizeof(double)));
    // Small requests skip the limits, which cost a few system calls and file reads.
    constexpr Eigen::Index kAlwaysAllowed = Eigen::Index{16} << 20;
    if (bytes > kAlwaysAllowed && static_cast<std::uint64_t>(bytes) > memory_budget_bytes())
        throw std::bad_alloc();
}

}  // namespace vexa
