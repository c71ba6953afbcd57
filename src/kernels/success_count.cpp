#include "kernels/success_count.hpp"

#include <cstdint>
#include <stdexcept>

#define VEXA_KERNEL_BODY "kernels/success_count_body.inc"
#include "kernels/per_instruction_set.inc"

namespace vexa {

void require_lockstep_group(int group) {
    if (group < 1 || group > kMaxLockstep)
        throw std::invalid_argument("a lockstep group holds 1 to 8 coefficient vectors");
}

void count_successes(const double* X, std::int64_t n, std::int64_t p, const double* y, double eps,
                     const double* const* betas, int group, std::int64_t* hits, SimdPath path) {
    require_lockstep_group(group);
    const auto count =
        kernel_for(path, baseline::count_any_group, avx2::count_any_group, avx512::count_any_group);
    count(X, n, p, y, eps, betas, group, hits);
}

}  // namespace vexa
