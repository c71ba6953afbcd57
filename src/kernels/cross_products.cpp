#include "kernels/cross_products.hpp"

#include "kernels/target_attributes.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vexa {

namespace {

// Tile sizes fit each path's registers: 16 accumulators in 32 AVX-512
// registers, 4 in 16 AVX2 or SSE2 registers (an 8-lane value takes 2 or 4).
namespace baseline {
constexpr int kPartBytes = 16;
constexpr int kTile = 2;
#include "kernels/lanes.inc"
#include "kernels/cross_products_body.inc"
}  // namespace baseline

#if VEXA_X86_DISPATCH
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kPartBytes = 32;
constexpr int kTile = 2;
#include "kernels/lanes.inc"
#include "kernels/cross_products_body.inc"
}  // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace avx512 {
constexpr int kPartBytes = 64;
constexpr int kTile = 4;
#include "kernels/lanes.inc"
#include "kernels/cross_products_body.inc"
}  // namespace avx512
#pragma GCC pop_options
#endif

}  // namespace

std::int64_t cross_products_work(std::int64_t m) {
    return baseline::padded(m) * baseline::padded(m) * baseline::kWidth;
}

void cross_products(const double* const* columns, std::int64_t m, std::int64_t n, double* out,
                    double* work, SimdPath path) {
    if (m <= 0) return;
    if (!simd_path_supported(path))
        throw std::invalid_argument(std::string("this CPU does not support the ") +
                                    simd_path_name(path) + " path");
    switch (path) {
#if VEXA_X86_DISPATCH
    case SimdPath::avx512: return avx512::cross_products_tiled(columns, m, n, out, work);
    case SimdPath::avx2: return avx2::cross_products_tiled(columns, m, n, out, work);
#endif
    default: return baseline::cross_products_tiled(columns, m, n, out, work);
    }
}

void cross_products(const double* const* columns, std::int64_t m, std::int64_t n, double* out,
                    double* work) {
    cross_products(columns, m, n, out, work, widest_simd_path());
}

}  // namespace vexa
