#include "mcmc/warmup.hpp"

#include "common/checks.hpp"
#include "common/thread_team.hpp"
#include "mcmc/metropolis_chain.hpp"
#include "mcmc/random_streams.hpp"
#include "mcmc/sampler_constants.hpp"

#include <cstddef>

namespace vexa {

std::vector<ChainState> run_warmup(const EnergyProblem& problem, std::int32_t n_chains,
                                   std::int32_t n_warmup, double step_size, std::uint64_t seed,
                                   const Cancellation& cancel) {
    if (n_chains > 0) require_allocatable(problem.X.cols(), n_chains);
    // The count goes to the container as its size type, like any negative size would.
    std::vector<ChainState> chains(static_cast<std::size_t>(n_chains));
    parallel_for(n_chains, cancel, [&](std::int64_t c) {
        MetropolisChain chain(problem, chain_stream_seed(seed, c));
        chain.start_random(sampler::kWarmupStartSigma);
        double T = sampler::kWarmupStartTemperature;
        for (std::int32_t i = 0; i < n_warmup; ++i) {
            cancel.check();
            chain.step(step_size, T);
            T *= sampler::kWarmupCooling;
        }
        chains[static_cast<std::size_t>(c)] = ChainState{chain.beta(), chain.energy()};
    });
    return chains;
}

}  // namespace vexa
