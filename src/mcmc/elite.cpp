#include "mcmc/elite.hpp"

#include "mcmc/sampler_constants.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace vexa {

void rank_chains(std::vector<ChainState>& chains) {
    std::stable_sort(chains.begin(), chains.end(), [](const ChainState& a, const ChainState& b) {
        if (std::isnan(b.energy)) return !std::isnan(a.energy);
        return a.energy < b.energy;
    });
}

namespace {

bool near_a_member(const ChainState& candidate, const std::vector<ChainState>& elite) {
    for (const ChainState& member : elite)
        if ((candidate.beta - member.beta).norm() <= sampler::kEliteMinDistance)
            return true;  // a NaN distance is not near
    return false;
}

}  // namespace

std::vector<ChainState> select_elite(const std::vector<ChainState>& ranked, std::int32_t n_elite) {
    if (ranked.empty()) throw std::invalid_argument("no ranked chains to select an elite from");
    const std::size_t wanted = n_elite > 0 ? static_cast<std::size_t>(n_elite) : 0;
    std::vector<ChainState> elite{ranked.front()};

    for (std::size_t i = 1; i < ranked.size() && elite.size() < wanted; ++i)
        if (!near_a_member(ranked[i], elite)) elite.push_back(ranked[i]);

    // The top-up counts from the elite's size, not from where the pass stopped.
    for (std::size_t k = elite.size(); elite.size() < wanted && k < ranked.size(); ++k)
        elite.push_back(ranked[k]);
    return elite;
}

}  // namespace vexa
