#pragma once
// Inner products of the columns of a tall matrix (the Gram matrix of a design
// and its product with the observations), in an order fixed lane by lane.

#include "common/cancellation.hpp"
#include "kernels/simd_path.hpp"

#include <cstdint>

namespace vexa {

// out(j, k) = sum_i x_j[i] * x_k[i] for k <= j < m, the lower triangle of the
// m x m column-major `out` (its other entries are left alone). Column j has n
// entries, x_j[i] = columns[j][i * row_steps[j]]: a column of a column-major
// matrix has step 1, one of a row-major matrix the row length. A null
// `row_steps` means step 1 for every column. Strided columns are gathered a chunk
// of rows at a time into contiguous buffers that every tile reads, so that a
// row-major design is read once, along its rows, and never copied whole. The sum
// is the same on every path, for every layout and team width: row i goes to
// lane i mod 8, each lane adds its rows' products in row order starting from
// 0.0 (rounded products, no fused multiply-add), and the eight lanes are added
// in one fixed tree. The tiles run on the thread team in groups; lane
// accumulators and gathered rows together take at most about
// max(m * m / 2, 2^20) doubles. `cancel` is checked every 2^20 or so products.
// std::invalid_argument, before anything is written, when this CPU lacks `path`.
void cross_products(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                    std::int64_t n, double* out, SimdPath path,
                    const Cancellation& cancel = Cancellation());

}  // namespace vexa
