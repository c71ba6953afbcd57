#pragma once
// The triangular factor of a tall matrix and the matching part of Qᵀy, by
// Householder reflections over cache-sized blocks of rows.

#include "common/cancellation.hpp"
#include "common/strided_matrix.hpp"
#include "kernels/simd_path.hpp"

#include <Eigen/Core>

namespace vexa {

// R and Qᵀy of X = Q [R; 0] in units scaled by powers of two: R holds the factor
// of X · 2^-x_exponent and Qty the first p entries of Qᵀy · 2^-y_exponent. The
// scaling keeps the squares of the reflections' norms in range for any finite X
// (entries up to 1e308 or down to subnormals) and is exact, so at ordinary
// scales it changes no bit.
struct TallQr {
    Eigen::MatrixXd R;    // p x p, upper triangular
    Eigen::VectorXd Qty;  // p
    int x_exponent = 0;
    int y_exponent = 0;
    bool finite = true;  // false when X holds a NaN or an infinity (R is then unset)
};

// For X (n x p, n >= p) and y (n). The rows are taken in chunks that depend only
// on n and p; a chunk's rows are copied a block at a time (a block stays in the
// core's cache) and folded into the chunk's triangular factor by reflections
// whose inner products run on `path`'s kernels in a fixed order; the chunks run
// on the thread team and their factors are folded together in chunk order. So
// the result is the same for every thread count, path and layout of X, which is
// read where it lies. `cancel` is checked between blocks.
// The exponent e with largest · 2^-e in [0.5, 1); 0 for zero or a non-finite value.
int scale_exponent(double largest);

// values[i] · 2^exponent for i < count: exact unless a result leaves the normal range.
void scale_by_power_of_two(double* values, Eigen::Index count, int exponent);

TallQr tall_qr(const StridedMatrix& X, const Eigen::Ref<const Eigen::VectorXd>& y,
               const Cancellation& cancel = Cancellation(), SimdPath path = widest_simd_path());

}  // namespace vexa
