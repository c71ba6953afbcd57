#pragma once
// The warm-up phase: independent, cooling Metropolis chains run in parallel.

#include "common/cancellation.hpp"
#include "mcmc/chain_energy.hpp"
#include "mcmc/chain_state.hpp"

#include <cstdint>
#include <vector>

namespace vexa {

// Runs n_chains chains of n_warmup steps on the thread team and returns their
// final (not their best) states, slot c holding chain c. Chain c draws only from
// its own stream, so the list is the same for every team size and schedule.
// A negative n_chains fails as a container of that size would (std::length_error).
// Every chain checks `cancel` before each step.
std::vector<ChainState> run_warmup(const EnergyProblem& problem, std::int32_t n_chains,
                                   std::int32_t n_warmup, double step_size, std::uint64_t seed,
                                   const Cancellation& cancel = Cancellation());

}  // namespace vexa
