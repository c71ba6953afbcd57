#include "common/penalty_terms.hpp"

#include "common/checks.hpp"

#include <string>

namespace vexa {

void check_penalty_shapes(const PenaltyTerms& terms, Eigen::Index p, const char* p_source) {
    const std::string source = std::string(p_source) + " gives p = " + std::to_string(p);
    terms.for_each_used([&](const Eigen::MatrixXd& R, double, const char* name) {
        require_square_penalty(R, name, p, source);
    });
}

}  // namespace vexa
