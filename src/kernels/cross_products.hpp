#pragma once
// Inner products of the columns of a tall matrix (the Gram matrix of a design
// and its product with the observations), in an order fixed lane by lane.

#include "kernels/simd_path.hpp"

#include <cstdint>

namespace vexa {

// out(j, k) = sum_i columns[j][i] * columns[k][i] for k <= j < m, the lower
// triangle of the m x m column-major `out` (its other entries are left alone).
// Each column has n entries. The sum is the same on every path: row i goes to
// lane i mod 8, each lane adds its rows' products in row order starting from
// 0.0 (rounded products, no fused multiply-add), and the eight lanes are added
// in one fixed tree. `work` holds at least cross_products_work(m) doubles.
void cross_products(const double* const* columns, std::int64_t m, std::int64_t n, double* out,
                    double* work, SimdPath path);

// The same on the widest path this CPU supports.
void cross_products(const double* const* columns, std::int64_t m, std::int64_t n, double* out,
                    double* work);

// Doubles of work space that cross_products needs for m columns.
std::int64_t cross_products_work(std::int64_t m);

}  // namespace vexa
