#pragma once
// A row-major matrix copied into column-major storage, cache-friendly: NumPy's
// default layout is row-major, Eigen's column-major, so every C-ordered matrix
// argument passes through this copy.

#include <Eigen/Core>

namespace vexa {

// dst[j * rows + i] = src[i * cols + j] for i < rows, j < cols.
void copy_row_major_to_columns(const double* src, Eigen::Index rows, Eigen::Index cols,
                               double* dst);

}  // namespace vexa
