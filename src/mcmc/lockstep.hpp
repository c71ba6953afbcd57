#pragma once
// Chains in lockstep: a thread moves a group of chains (or deep runs) together
// and scores all their proposals in one pass over X. Each loaded column then
// serves several chains, and when X is too large to stay in a core's cache, X
// is streamed from memory once per group step instead of once per chain step.
// Each chain keeps its own stream, proposals and decisions, so grouping changes
// only the order of work, never a result.

#include "mcmc/chain_energy.hpp"
#include "mcmc/metropolis_chain.hpp"

#include <Eigen/Core>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vexa {

// Whether X (512 KiB or less) stays in a core's cache from one evaluation to the next.
bool stays_in_cache(const Eigen::MatrixXd& X);

// `count` chains in groups that each move in lockstep on one thread: as many
// groups for every thread, each of at most 5 chains while X fits in a core's
// cache and of at most kMaxLockstep when it does not, their sizes differing by
// at most one, the larger first, so that the threads move about as many chains.
struct LockstepGroups {
    std::int64_t groups = 0;   // group q holds chains [first(q), first(q) + size(q))
    std::int64_t smaller = 0;  // chains of a smaller group
    std::int64_t larger = 0;   // the first `larger` groups hold one chain more

    std::int64_t first(std::int64_t q) const { return q * smaller + std::min(q, larger); }
    int size(std::int64_t q) const { return static_cast<int>(smaller + (q < larger ? 1 : 0)); }
};

LockstepGroups lockstep_groups(const Eigen::MatrixXd& X, std::int64_t count, int threads);

// Every chain of the group (at most kMaxLockstep) at its random start, N(0,
// sigma) per coordinate, the starts scored together by `energy`.
void start_in_lockstep(std::vector<MetropolisChain>& group, double sigma, ChainEnergy& energy);

// One step of every chain of the group (at most kMaxLockstep), chain g at
// temperature T[g]: all propose, the proposals are scored together by
// `energy`, then each decides.
void step_in_lockstep(std::vector<MetropolisChain>& group, double sigma, const double* T,
                      ChainEnergy& energy);

}  // namespace vexa
