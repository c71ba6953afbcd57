#pragma once
// X packed once per fit into panels of eight rows for the sampler's energy. A
// large X is read from memory at every group step; in columns that is p streams
// a row block apart, too many for the prefetchers once p is large, while a
// panel is one contiguous stream. The energies keep their bits.

#include "common/cancellation.hpp"

#include <Eigen/Core>

#include <vector>

namespace vexa {

// The whole blocks of eight rows of X, panel by panel (pack_row_panels), when X
// does not stay in a core's cache and the copy, never larger than X, fits in the
// memory budget; empty otherwise, and the energy then reads X itself. Checks
// `cancel` as it copies.
std::vector<double> sampler_row_panels(const Eigen::MatrixXd& X, const Cancellation& cancel);

}  // namespace vexa
