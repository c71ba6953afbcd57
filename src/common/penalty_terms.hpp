#pragma once
// The optional smoothness penalties of one call, as the scores, the penalized fit
// and the sampler all take them.

#include <Eigen/Core>

namespace vexa {

// Refers to the optional penalties of one call; owns nothing.
struct PenaltyTerms {
    const Eigen::MatrixXd* R1 = nullptr;  // p x p or absent
    const Eigen::MatrixXd* R2 = nullptr;  // p x p or absent
    double gamma1 = 0.0;
    double gamma2 = 0.0;

    // Calls visit(R, gamma, name) for R1, then R2, when that penalty is read: it is
    // present and its weight is not 0.0 (NaN counts as non-zero). A penalty that is
    // not read may have any shape or content.
    template <class Visit>
    void for_each_used(Visit&& visit) const {
        if (gamma1 != 0.0 && R1 != nullptr) visit(*R1, gamma1, "R1");
        if (gamma2 != 0.0 && R2 != nullptr) visit(*R2, gamma2, "R2");
    }
};

// Throws ValueError unless every penalty that will be read is p x p; `p_source`
// names where p comes from ("X", "Phi", "beta").
void check_penalty_shapes(const PenaltyTerms& terms, Eigen::Index p, const char* p_source);

}  // namespace vexa
