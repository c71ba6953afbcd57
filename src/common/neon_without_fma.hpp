#pragma once
// Force-included first into every C++ file on aarch64 (cmake/VexaPortability.cmake),
// before any Eigen header: Eigen's NEON products for doubles round each product and
// each sum on its own, as its SSE2 products on x86-64 do, so the two give the same bits.
//
// -ffp-contract=off does not reach Eigen's NEON code, which asks for fused multiply-add
// by intrinsic: pmadd<Packet2d> takes vfmaq_f64 whenever __ARM_FEATURE_FMA is defined
// (always, on aarch64), and the matrix-matrix kernel for doubles calls vfmaq_laneq_f64
// and vfmaq_n_f64 unconditionally. Here pmadd takes its unfused branch (vmlaq_f64, a
// multiply and an add under -ffp-contract=off), and the kernel's fused intrinsics become
// a multiply by the lane (or scalar) followed by an add. The kernel keeps its register
// blocking and its vector loads; only the fused instruction becomes two.

#if defined(__aarch64__) || defined(_M_ARM64)

#ifdef EIGEN_CORE_H
#error "common/neon_without_fma.hpp must be included before any Eigen header"
#endif

#include <arm_neon.h>

#undef __ARM_FEATURE_FMA

// Clang defines these intrinsics as macros, GCC as inline functions; either way the names
// below stand for the unfused forms from here on (arm_neon.h has been read already).
#undef vfmaq_f64
#undef vfmaq_n_f64
#undef vfmaq_laneq_f64
#undef vfmaq_f32
#undef vfmaq_n_f32
#undef vfmaq_laneq_f32
#define vfmaq_f64(c, a, b) vaddq_f64((c), vmulq_f64((a), (b)))
#define vfmaq_n_f64(c, a, b) vaddq_f64((c), vmulq_n_f64((a), (b)))
#define vfmaq_laneq_f64(c, a, b, lane) vaddq_f64((c), vmulq_laneq_f64((a), (b), (lane)))
#define vfmaq_f32(c, a, b) vaddq_f32((c), vmulq_f32((a), (b)))
#define vfmaq_n_f32(c, a, b) vaddq_f32((c), vmulq_n_f32((a), (b)))
#define vfmaq_laneq_f32(c, a, b, lane) vaddq_f32((c), vmulq_laneq_f32((a), (b), (lane)))

#endif
