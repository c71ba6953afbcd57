#pragma once
// Chains in lockstep: when X is too large to stay in a core's cache, every energy
// evaluation streams it from memory again, so a thread moves a group of chains
// (or deep runs) together and scores all their proposals in one pass over X.
// Each chain keeps its own stream, proposals and decisions, so grouping changes
// only the order of work, never a result.

#include "mcmc/chain_energy.hpp"
#include "mcmc/metropolis_chain.hpp"

#include <Eigen/Core>

#include <cstdint>

namespace vexa {

// Chains per group for `count` chains on `threads` threads: 1 while X fits in
// a core's cache (single chains balance the threads best), otherwise the count
// spread evenly over the threads in groups of at most kMaxLockstep.
int lockstep_group_size(const Eigen::MatrixXd& X, std::int64_t count, int threads);

// One step of every chain of the group, chain g at temperature T[g]: all
// propose, the proposals are scored together by `energy`, then each decides.
void step_in_lockstep(MetropolisChain* const* chains, int group, double sigma, const double* T,
                      ChainEnergy& energy);

}  // namespace vexa
