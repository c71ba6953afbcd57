#pragma once
// The sampler's energy reads X and y once: the prediction X * beta is formed
// eight rows at a time and compared with y at once, so the n predictions are
// never stored, and a group of coefficient vectors is scored in the same pass.

#include "kernels/simd_path.hpp"

#include <cstdint>

namespace vexa {

// Most coefficient vectors scored in one pass over X.
constexpr int kMaxLockstep = 8;

// hits[g] = the number of rows i < n with eps > |(X beta_g)_i - y_i|, for the
// `group` vectors betas[0 .. group-1] (1 <= group <= kMaxLockstep), each of p
// entries. X: n x p, column-major. The prediction of a row is summed column by
// column, X(i,0) b_0 + X(i,1) b_1 + ... left to right, every product and sum
// rounded (no fused multiply-add), so it does not depend on the path.
// `panels`, when not null, holds the same rows as X for the whole blocks of eight
// rows, packed block by block (pack_row_panels), and those rows are read from it:
// the same bits, with one contiguous stream instead of p column streams.
// std::invalid_argument for a group size out of range or a path this CPU lacks.
void count_successes(const double* X, std::int64_t n, std::int64_t p, const double* y, double eps,
                     const double* const* betas, int group, std::int64_t* hits, SimdPath path,
                     const double* panels = nullptr);

// Doubles that pack_row_panels writes: the whole blocks of eight rows of an
// n x p matrix, never more than the matrix holds.
std::int64_t row_panel_size(std::int64_t n, std::int64_t p);

// Copies blocks [first, last) of eight rows of the column-major n x p matrix X
// into `panels`: row 8 k + r of column j to panels[8 (k p + j) + r].
void pack_row_panels(const double* X, std::int64_t n, std::int64_t p, std::int64_t first,
                     std::int64_t last, double* panels);

// std::invalid_argument unless 1 <= group <= kMaxLockstep.
void require_lockstep_group(int group);

}  // namespace vexa
