#pragma once
// The deep phase: each elite member refined by a slowly cooling Metropolis run
// with a smaller step; the lowest state met is the fit's result.

#include "common/cancellation.hpp"
#include "mcmc/chain_energy.hpp"
#include "mcmc/chain_state.hpp"

#include <cstdint>
#include <vector>

namespace vexa {

// Run j starts from elite[j] (energy not recomputed) on the stream of
// deep_stream_seed(seed, j) with proposals N(0, 0.3 step_size). The deep
// temperature starts at Td0 and is multiplied by 0.9997 after every step of
// every run, never reset between runs, as if the runs followed one another.
// Returns the first state, in run order and step order, whose energy is strictly
// below every earlier one and below elite[0]'s; elite[0] itself when there is none.
// `elite` must not be empty. The runs go to the thread team, several in lockstep
// on one thread; the result does not depend on the team's width. Every run checks
// `cancel` before each step.
ChainState run_deep_phase(const EnergyProblem& problem, const std::vector<ChainState>& elite,
                          std::int32_t n_deep, double step_size, std::uint64_t seed, double Td0,
                          const Cancellation& cancel = Cancellation());

}  // namespace vexa
