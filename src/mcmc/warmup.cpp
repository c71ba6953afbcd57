#include "mcmc/warmup.hpp"

#include "common/checks.hpp"
#include "common/thread_team.hpp"
#include "mcmc/lockstep.hpp"
#include "mcmc/metropolis_chain.hpp"
#include "mcmc/random_streams.hpp"
#include "mcmc/sampler_constants.hpp"

#include <algorithm>
#include <cstddef>

namespace vexa {

std::vector<ChainState> run_warmup(const EnergyProblem& problem, std::int32_t n_chains,
                                   std::int32_t n_warmup, double step_size, std::uint64_t seed,
                                   const Cancellation& cancel) {
    if (n_chains > 0) require_allocatable(problem.X.cols(), n_chains);
    // The count goes to the container as its size type, like any negative size would.
    std::vector<ChainState> chains(static_cast<std::size_t>(n_chains));
    const std::int64_t count = n_chains;
    // Chains [first(q), first(q) + size(q)) form group q and move in lockstep on one thread.
    const LockstepGroups split = lockstep_groups(problem.X, count, team_width());
    const double operations = static_cast<double>(count) * (static_cast<double>(n_warmup) + 1.0) *
                              static_cast<double>(problem.X.size());
    const auto run_group = [&](std::int64_t q) {
        const std::int64_t first = split.first(q);
        const int size = split.size(q);
        std::vector<MetropolisChain> group;
        group.reserve(static_cast<std::size_t>(size));
        for (int g = 0; g < size; ++g)
            group.emplace_back(problem, chain_stream_seed(seed, first + g));
        ChainEnergy energy(problem);
        start_in_lockstep(group, sampler::kWarmupStartSigma, energy);
        double T[kMaxLockstep] = {};
        std::fill(T, T + size, sampler::kWarmupStartTemperature);
        for (std::int32_t i = 0; i < n_warmup; ++i) {
            cancel.check();
            step_in_lockstep(group, step_size, T, energy);
            for (int g = 0; g < size; ++g) T[g] *= sampler::kWarmupCooling;
        }
        for (int g = 0; g < size; ++g) {
            const MetropolisChain& chain = group[static_cast<std::size_t>(g)];
            chains[static_cast<std::size_t>(first + g)] = ChainState{chain.beta(), chain.energy()};
        }
    };
    parallel_for(split.groups, cancel, run_group, operations);
    return chains;
}

}  // namespace vexa
