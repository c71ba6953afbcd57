#pragma once
// The column passes of a Householder QR over a block of rows: inner products of
// one column with the columns after it and the reflection of those columns, in
// an order fixed lane by lane so that every path gives the same bits, and the
// copy of a block's columns that also finds their largest magnitude.

#include "kernels/simd_path.hpp"

#include <cstdint>

namespace vexa {

// A block of `rows` rows (a multiple of 8) and some columns, column-major with
// column k at block + k * stride. Every sum below gives row i to lane i mod 8;
// each lane adds its rows' products in row order starting from 0.0 (rounded
// products, no fused multiply-add), and the eight lanes are added in one fixed
// tree.
struct HouseholderColumns {
    // out[k] = sum_i column(pivot)[i] * column(k)[i] for first <= k < last.
    void (*products)(const double* block, std::int64_t stride, std::int64_t rows,
                     std::int64_t pivot, std::int64_t first, std::int64_t last, double* out);
    // column(k) -= factor[k] * column(pivot) for pivot < k < last, then
    // out[k] = sum_i column(pivot + 1)[i] * column(k)[i] for pivot < k < last over
    // the new values: the reflection by one column and the products that the
    // next column's reflection needs, in one pass over the block.
    void (*reflect_and_products)(double* block, std::int64_t stride, std::int64_t rows,
                                 std::int64_t pivot, std::int64_t last, const double* factor,
                                 double* out);
    // to[i] = from[i * step] for i < rows; returns the largest magnitude copied,
    // or infinity when a value is NaN or infinite.
    double (*copy_column)(const double* from, std::int64_t step, std::int64_t rows, double* to);
};

// The passes compiled for `path`; std::invalid_argument when this CPU lacks it.
const HouseholderColumns& householder_columns(SimdPath path);

}  // namespace vexa
