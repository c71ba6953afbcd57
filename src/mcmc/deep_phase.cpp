#include "mcmc/deep_phase.hpp"

#include "mcmc/metropolis_chain.hpp"
#include "mcmc/random_streams.hpp"
#include "mcmc/sampler_constants.hpp"

#include <cstddef>
#include <exception>
#include <stdexcept>
#include <utility>

namespace vexa {

namespace {

// One deep run of n_deep steps at temperature Td (advanced in place); `lowest`
// takes a copy of every state strictly below it.
void refine_member(const EnergyProblem& problem, const ChainState& member,
                   std::uint64_t stream_seed, std::int32_t n_deep, double sigma, double& Td,
                   ChainState& lowest) {
    MetropolisChain chain(problem, stream_seed);
    chain.start_at(member);
    for (std::int32_t t = 0; t < n_deep; ++t) {
        chain.step(sigma, Td);
        if (chain.energy() < lowest.energy) {
            lowest.beta = chain.beta();
            lowest.energy = chain.energy();
        }
        Td *= sampler::kDeepCooling;
    }
}

}  // namespace

ChainState run_deep_phase(const EnergyProblem& problem, const std::vector<ChainState>& elite,
                          std::int32_t n_deep, double step_size, std::uint64_t seed, double Td0,
                          DeepSchedule schedule) {
    if (elite.empty()) throw std::invalid_argument("the deep phase needs at least one elite member");
    const double sigma = sampler::kDeepStepFactor * step_size;
    ChainState best = elite.front();
    const std::size_t runs = elite.size();

    if (schedule == DeepSchedule::sequential) {
        double Td = Td0;
        for (std::size_t j = 0; j < runs; ++j)
            refine_member(problem, elite[j], deep_stream_seed(seed, static_cast<std::int64_t>(j)),
                          n_deep, sigma, Td, best);
        return best;
    }

    // The runs differ only in their streams and start temperatures. Run j starts
    // at Td0 multiplied j * n_deep times by the cooling factor, formed by the same
    // successive multiplications as the sequential schedule.
    std::vector<double> start_T(runs);
    double Td = Td0;
    for (std::size_t j = 0; j < runs; ++j) {
        start_T[j] = Td;
        for (std::int32_t t = 0; t < n_deep; ++t) Td *= sampler::kDeepCooling;
    }
    // Each run keeps the first state strictly below elite[0]'s energy that is its
    // own running minimum; merging in elite order with strict less-than then picks
    // the same state as the sequential running minimum.
    std::vector<ChainState> lowest(
        runs, ChainState{Eigen::VectorXd::Zero(problem.X.cols()), best.energy});
    std::vector<std::exception_ptr> errors(runs);
    const std::int64_t count = static_cast<std::int64_t>(runs);

#pragma omp parallel for schedule(dynamic, 1)
    for (std::int64_t j = 0; j < count; ++j) {
        const std::size_t slot = static_cast<std::size_t>(j);
        try {
            double T = start_T[slot];
            refine_member(problem, elite[slot], deep_stream_seed(seed, j), n_deep, sigma, T,
                          lowest[slot]);
        } catch (...) {
            errors[slot] = std::current_exception();
        }
    }

    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
    for (ChainState& run : lowest)
        if (run.energy < best.energy) best = std::move(run);
    return best;
}

}  // namespace vexa
