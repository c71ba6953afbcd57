#include "common/row_major_copy.hpp"

#include <algorithm>

namespace vexa {

void copy_row_major_to_columns(const double* src, Eigen::Index rows, Eigen::Index cols,
                               double* dst) {
    // A block of rows stays in the first-level cache (about 16 KiB, at least eight
    // rows) while each column's share of it is written as one run: element by
    // element the writes would land a column apart and each miss the cache.
    const Eigen::Index block =
        std::clamp<Eigen::Index>(2048 / std::max<Eigen::Index>(cols, 1), 8, 1024) / 8 * 8;
    for (Eigen::Index i0 = 0; i0 < rows; i0 += block) {
        const Eigen::Index i1 = std::min(rows, i0 + block);
        for (Eigen::Index j = 0; j < cols; ++j) {
            const double* from = src + i0 * cols + j;
            double* to = dst + j * rows;
            for (Eigen::Index i = i0; i < i1; ++i, from += cols) to[i] = *from;
        }
    }
}

}  // namespace vexa
