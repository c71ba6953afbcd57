#include "kernels/success_count.hpp"

#include "kernels/target_attributes.hpp"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vexa {

namespace {

#define VEXA_KERNEL_BODY "kernels/success_count_body.inc"
#include "kernels/per_instruction_set.inc"

}  // namespace

void count_successes(const double* X, std::int64_t n, std::int64_t p, const double* y, double eps,
                     const double* const* betas, int group, std::int64_t* hits, SimdPath path) {
    if (group < 1 || group > kMaxLockstep)
        throw std::invalid_argument("a lockstep group holds 1 to 8 coefficient vectors");
    if (!simd_path_supported(path))
        throw std::invalid_argument(std::string("this CPU does not support the ") +
                                    simd_path_name(path) + " path");
    switch (path) {
#if VEXA_X86_DISPATCH
        case SimdPath::avx512:
            return avx512::count_any_group(X, n, p, y, eps, betas, group, hits);
        case SimdPath::avx2:
            return avx2::count_any_group(X, n, p, y, eps, betas, group, hits);
#endif
        default:
            return baseline::count_any_group(X, n, p, y, eps, betas, group, hits);
    }
}

void count_successes(const double* X, std::int64_t n, std::int64_t p, const double* y, double eps,
                     const double* const* betas, int group, std::int64_t* hits) {
    count_successes(X, n, p, y, eps, betas, group, hits, widest_simd_path());
}

}  // namespace vexa
