#include "kernels/mersenne_block.hpp"

#define VEXA_KERNEL_BODY "kernels/mersenne_block_body.inc"
#include "kernels/per_instruction_set.inc"

namespace vexa {

void next_mersenne_block(std::uint64_t* state, std::uint64_t* block, SimdPath path) {
    const auto next = kernel_for(path, baseline::next_mersenne_block, avx2::next_mersenne_block,
                                 avx512::next_mersenne_block);
    next(state, block);
}

}  // namespace vexa
