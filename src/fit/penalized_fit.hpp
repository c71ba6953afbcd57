#pragma once
// Ridge- and smoothness-penalized linear fit through the normal equations.

#include "common/cancellation.hpp"
#include "common/penalty_terms.hpp"
#include "common/strided_matrix.hpp"
#include "kernels/simd_path.hpp"

#include <Eigen/Core>

namespace vexa {

// Coefficients beta (length p) solving
//   (PhiᵀPhi + ridge I + n gamma1 R1 + n gamma2 R2) beta = Phiᵀ y,
// Phi: n x p, y: n, n = len(y). The penalties read are those terms.for_each_used
// visits, and they must be p x p. Only the lower triangle of the system is read, so an asymmetric
// penalty contributes its lower triangle mirrored. The system is solved by LDLT
// with the zero-pivot rule of ldlt_solve; a singular system is not an error.
// ValueError for mismatched shapes, MemoryError when p x p cannot be allocated.
// PhiᵀPhi and Phiᵀy are formed on `path`; every path gives the same bits. Their
// products check `cancel` as they go (the p x p solve does not).
// Phi is read where it lies, in any layout, and never copied.
Eigen::VectorXd fit_regularized_linear(const StridedMatrix& Phi,
                                       const Eigen::Ref<const Eigen::VectorXd>& y,
                                       const PenaltyTerms& terms, double ridge,
                                       const Cancellation& cancel = Cancellation(),
                                       SimdPath path = widest_simd_path());

}  // namespace vexa
