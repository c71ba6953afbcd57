#include "kernels/householder_columns.hpp"

#include "kernels/target_attributes.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace vexa {

namespace {

namespace baseline {
constexpr int kPartBytes = 16;
#include "kernels/householder_columns_body.inc"
}  // namespace baseline

#if VEXA_X86_DISPATCH
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kPartBytes = 32;
#include "kernels/householder_columns_body.inc"
}  // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace avx512 {
constexpr int kPartBytes = 64;
#include "kernels/householder_columns_body.inc"
}  // namespace avx512
#pragma GCC pop_options
#endif

}  // namespace

const HouseholderColumns& householder_columns(SimdPath path) {
    if (!simd_path_supported(path))
        throw std::invalid_argument(std::string("this CPU does not support the ") +
                                    simd_path_name(path) + " path");
    static const HouseholderColumns baseline_passes{
        baseline::products, baseline::reflect_and_products, baseline::copy_column};
#if VEXA_X86_DISPATCH
    static const HouseholderColumns avx2_passes{avx2::products, avx2::reflect_and_products,
                                                avx2::copy_column};
    static const HouseholderColumns avx512_passes{avx512::products, avx512::reflect_and_products,
                                                  avx512::copy_column};
    if (path == SimdPath::avx2) return avx2_passes;
    if (path == SimdPath::avx512) return avx512_passes;
#endif
    return baseline_passes;
}

}  // namespace vexa
