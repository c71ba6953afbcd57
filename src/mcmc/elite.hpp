#pragma once
// Ranking of the warm-up chains and selection of the elite that the deep phase refines.

#include "mcmc/chain_state.hpp"

#include <cstdint>
#include <vector>

namespace vexa {

// Stable sort by energy, lowest first; chains of equal energy keep their order.
// A NaN energy ranks after every numeric one (NaNs among themselves keep their
// order), which keeps the comparison a strict weak order.
void rank_chains(std::vector<ChainState>& chains);

// Copies of ranked chains: s[0], then in rank order every chain farther than 0.1
// (Euclidean) from each member chosen so far, until n_elite members; then a
// top-up with s[k], s[k+1], ... from k = the elite's size, which may repeat a
// chain. n_elite <= 1 gives s[0] alone. A NaN distance is not within 0.1.
// `ranked` must not be empty.
std::vector<ChainState> select_elite(const std::vector<ChainState>& ranked, std::int32_t n_elite);

}  // namespace vexa
