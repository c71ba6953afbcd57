#include "kernels/simd_path.hpp"

#include "kernels/target_attributes.hpp"

#include <stdexcept>
#include <string>

namespace vexa {

bool simd_path_supported(SimdPath path) {
    switch (path) {
        case SimdPath::baseline:
            return true;
#if VEXA_X86_DISPATCH
        case SimdPath::avx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
        case SimdPath::avx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f");
#else
        case SimdPath::avx2:
        case SimdPath::avx512:
            return false;
#endif
    }
    return false;
}

SimdPath widest_simd_path() {
    if (simd_path_supported(SimdPath::avx512)) return SimdPath::avx512;
    if (simd_path_supported(SimdPath::avx2)) return SimdPath::avx2;
    return SimdPath::baseline;
}

void require_simd_path(SimdPath path) {
    if (!simd_path_supported(path))
        throw std::invalid_argument(std::string("this CPU does not support the ") +
                                    simd_path_name(path) + " path");
}

const char* simd_path_name(SimdPath path) {
    switch (path) {
        case SimdPath::baseline:
            return "baseline";
        case SimdPath::avx2:
            return "avx2";
        case SimdPath::avx512:
            return "avx512";
    }
    return "unknown";
}

}  // namespace vexa
