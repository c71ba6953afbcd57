#pragma once
// The sampler's random numbers come from std::mt19937_64 a block at a time: the
// whole state is regenerated and every word tempered at once, each path doing
// the same integer arithmetic on as many words per instruction as it holds.

#include "kernels/simd_path.hpp"

#include <cstdint>

namespace vexa {

// Words in the state of std::mt19937_64, and outputs per block.
constexpr int kMersenneWords = 312;

// Replaces `state` (kMersenneWords words) by the engine's next state and writes
// its tempered outputs, in the engine's order, to `block`: the values that
// std::mt19937_64 returns for the next kMersenneWords calls.
// std::invalid_argument when this CPU lacks `path`.
void next_mersenne_block(std::uint64_t* state, std::uint64_t* block, SimdPath path);

}  // namespace vexa
