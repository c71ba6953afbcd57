#include "kernels/success_count.hpp"

#include "kernels/target_attributes.hpp"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vexa {

namespace {

// Sums kept in registers, leaving room for the loaded columns and coefficients:
// an 8-lane value takes 1 of 32 AVX-512 registers, 2 of 16 AVX2 or 4 of 16 SSE2
// registers.
namespace baseline {
constexpr int kPartBytes = 16;
constexpr int kAccumulators = 2;
#include "kernels/success_count_body.inc"
}  // namespace baseline

#if VEXA_X86_DISPATCH
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kPartBytes = 32;
constexpr int kAccumulators = 4;
#include "kernels/success_count_body.inc"
}  // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace avx512 {
constexpr int kPartBytes = 64;
constexpr int kAccumulators = 16;
#include "kernels/success_count_body.inc"
}  // namespace avx512
#pragma GCC pop_options
#endif

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
