#pragma once
// The sampler's penalty forms beta^T R beta for a whole lockstep group at once:
// lane g of every value belongs to coefficient vector g, so one pass over R
// serves the group, and each vector's sums keep the order of the lone form.

#include "kernels/simd_path.hpp"

#include <cstdint>

namespace vexa {

// forms[g] = b_g^T R b_g for g < group (1 <= group <= 8), the vectors b_g of p
// entries held lane by lane in `lanes` (lanes[8 j + g] = b_g[j], 8 lanes per
// coefficient); `forms` has 8 entries, and those past the group may be written.
// R: p x p, column-major. Each form is summed in the order of quad_penalty's
// Eigen products, so it has the same bits: v_i = R(i, :) b adds the rounded
// products column by column from 0.0 (with 128 or more columns, in blocks of 16,
// or of 4 when p >= 4000, each block from 0.0 and then added to v_i), and b . v is
// reduced as Eigen's two-packet dot of doubles is. p = 0 gives 0.0.
// std::invalid_argument when this CPU lacks `path`.
void penalty_forms(const double* R, std::int64_t p, const double* lanes, int group, double* forms,
                   SimdPath path);

}  // namespace vexa
