#include "common/checks.hpp"

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

void require_square_penalty(const Eigen::MatrixXd& R, const char* name, Eigen::Index p,
                            const std::string& source) {
    if (R.rows() != p || R.cols() != p) {
        throw std::invalid_argument(std::string(name) + " is " + std::to_string(R.rows()) + " x " +
                                    std::to_string(R.cols()) + " but must be " +
                                    std::to_string(p) + " x " + std::to_string(p) + " (" +
                                    source + ")");
    }
}

}  // namespace vexa
