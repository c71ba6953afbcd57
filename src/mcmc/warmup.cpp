#include "mcmc/warmup.hpp"

#include "common/checks.hpp"
#include "mcmc/metropolis_chain.hpp"
#include "mcmc/random_streams.hpp"
#include "mcmc/sampler_constants.hpp"

#include <cstddef>
#include <exception>

namespace vexa {

std::vector<ChainState> run_warmup(const EnergyProblem& problem, std::int32_t n_chains,
                                   std::int32_t n_warmup, double step_size, std::uint64_t seed) {
    if (n_chains > 0) require_allocatable(problem.X.cols(), n_chains);
    // The count goes to the container as its size type, like any negative size would.
    std::vector<ChainState> chains(static_cast<std::size_t>(n_chains));
    // An exception must not leave an OpenMP region: each chain parks its own and
    // the first one in chain order is rethrown after the loop.
    std::vector<std::exception_ptr> errors(chains.size());
    const std::int64_t count = n_chains;

#pragma omp parallel for schedule(dynamic, 1)
    for (std::int64_t c = 0; c < count; ++c) {
        try {
            MetropolisChain chain(problem, chain_stream_seed(seed, c));
            chain.start_random(sampler::kWarmupStartSigma);
            double T = sampler::kWarmupStartTemperature;
            for (std::int32_t i = 0; i < n_warmup; ++i) {
                chain.step(step_size, T);
                T *= sampler::kWarmupCooling;
            }
            chains[static_cast<std::size_t>(c)] = ChainState{chain.beta(), chain.energy()};
        } catch (...) {
            errors[static_cast<std::size_t>(c)] = std::current_exception();
        }
    }

    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
    return chains;
}

}  // namespace vexa
