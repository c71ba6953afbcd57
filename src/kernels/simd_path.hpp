#pragma once
// The instruction sets that the hot kernels are compiled for, the choice of the
// widest one the running CPU offers, and the one place that maps a path to a
// kernel's copy for it. Every path gives the same bits: the kernels work on lanes
// of eight doubles whatever the register width, so a wider path only runs the
// same lane arithmetic in fewer instructions.

namespace vexa {

enum class SimdPath {
    baseline,  // SSE2 on x86-64, the plain compiler target elsewhere
    avx2,
    avx512,
};

// The widest path that this CPU and its operating system support, read from
// CPUID (and the OS's saved register state) on every call; never configured.
SimdPath widest_simd_path();

// Whether `path` can run here: compiled into this build and supported by this
// CPU. The baseline always can.
bool simd_path_supported(SimdPath path);

// "baseline", "avx2" or "avx512".
const char* simd_path_name(SimdPath path);

// std::invalid_argument "this CPU does not support the <name> path" unless
// simd_path_supported(path).
void require_simd_path(SimdPath path);

// The copy of a kernel compiled for `path`, given the copy of every path, after
// require_simd_path(path).
template <class Kernel>
Kernel kernel_for(SimdPath path, Kernel baseline, Kernel avx2, Kernel avx512) {
    require_simd_path(path);
    switch (path) {
        case SimdPath::avx2:
            return avx2;
        case SimdPath::avx512:
            return avx512;
        case SimdPath::baseline:
            break;
    }
    return baseline;
}

}  // namespace vexa
