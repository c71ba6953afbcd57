#include "mcmc/deep_phase.hpp"

#include "common/thread_team.hpp"
#include "mcmc/lockstep.hpp"
#include "mcmc/metropolis_chain.hpp"
#include "mcmc/random_streams.hpp"
#include "mcmc/sampler_constants.hpp"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <utility>

namespace vexa {

namespace {

// Runs first .. first + size - 1 in lockstep, run j from start_T[j], cooled after
// every step. lowest[j] starts at `unmoved` and takes a copy of every state of run j
// strictly below it, so that running the group again gives the same result.
void refine_group(const EnergyProblem& problem, const std::vector<ChainState>& elite,
                  std::int64_t first, int size, std::uint64_t seed, std::int32_t n_deep,
                  double sigma, const std::vector<double>& start_T, const ChainState& unmoved,
                  std::vector<ChainState>& lowest, const Cancellation& cancel) {
    std::vector<MetropolisChain> group;
    group.reserve(static_cast<std::size_t>(size));
    double T[kMaxLockstep] = {};
    for (int g = 0; g < size; ++g) {
        const std::size_t j = static_cast<std::size_t>(first + g);
        group.emplace_back(problem, deep_stream_seed(seed, first + g));
        group.back().start_at(elite[j]);
        T[g] = start_T[j];
        lowest[j] = unmoved;
    }
    ChainEnergy energy(problem);
    for (std::int32_t t = 0; t < n_deep; ++t) {
        cancel.check();
        step_in_lockstep(group, sigma, T, energy);
        for (int g = 0; g < size; ++g) {
            const MetropolisChain& run = group[static_cast<std::size_t>(g)];
            ChainState& run_lowest = lowest[static_cast<std::size_t>(first + g)];
            if (run.energy() < run_lowest.energy) {
                run_lowest.beta = run.beta();
                run_lowest.energy = run.energy();
            }
            T[g] *= sampler::kDeepCooling;
        }
    }
}

}  // namespace

ChainState run_deep_phase(const EnergyProblem& problem, const std::vector<ChainState>& elite,
                          std::int32_t n_deep, double step_size, std::uint64_t seed, double Td0,
                          const Cancellation& cancel) {
    if (elite.empty())
        throw std::invalid_argument("the deep phase needs at least one elite member");
    const double sigma = sampler::kDeepStepFactor * step_size;
    ChainState best = elite.front();
    const std::size_t runs = elite.size();

    // Run j starts at Td0 multiplied j * n_deep times by the cooling factor, by
    // the same successive multiplications as one temperature carried through the
    // runs one after another.
    std::vector<double> start_T(runs);
    double Td = Td0;
    ThrottledCheck check(cancel, 1);  // a long schedule takes seconds
    for (std::size_t j = 0; j < runs; ++j) {
        start_T[j] = Td;
        for (std::int32_t t = 0; t < n_deep; ++t) {
            check.tick();
            Td *= sampler::kDeepCooling;
        }
    }
    // Each run keeps the first state strictly below elite[0]'s energy that is its
    // own running minimum; merging in elite order with strict less-than then picks
    // the first state, in run order, below every earlier one.
    const ChainState unmoved{Eigen::VectorXd::Zero(problem.X.cols()), best.energy};
    std::vector<ChainState> lowest(runs, unmoved);
    // Runs [first(q), first(q) + size(q)) form group q and move in lockstep on one thread.
    const std::int64_t count = static_cast<std::int64_t>(runs);
    const LockstepGroups split = lockstep_groups(problem.X, count, team_width());
    const double operations = static_cast<double>(count) * static_cast<double>(n_deep) *
                              static_cast<double>(problem.X.size());
    parallel_for(
        split.groups, cancel,
        [&](std::int64_t q) {
            const std::int64_t first = split.first(q);
            const int size = split.size(q);
            refine_group(problem, elite, first, size, seed, n_deep, sigma, start_T, unmoved, lowest,
                         cancel);
        },
        operations);
    for (ChainState& run : lowest)
        if (run.energy < best.energy) best = std::move(run);
    return best;
}

}  // namespace vexa
