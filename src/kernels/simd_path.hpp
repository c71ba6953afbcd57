#pragma once
// The instruction sets that the hot kernels are compiled for, and the choice of
// the widest one the running CPU offers. Every path gives the same bits: the
// kernels work on lanes of eight doubles whatever the register width, so a
// wider path only runs the same lane arithmetic in fewer instructions.

namespace vexa {

enum class SimdPath {
    baseline,  // SSE2 on x86-64, the plain compiler target elsewhere
    avx2,
    avx512,
};

// The widest path that this CPU and its operating system support, read from
// CPUID (and the OS's saved register state) on every call; never configured.
SimdPath widest_simd_path();

// Whether `path` can run here. The baseline always can.
bool simd_path_supported(SimdPath path);

// "baseline", "avx2" or "avx512".
const char* simd_path_name(SimdPath path);

}  // namespace vexa
