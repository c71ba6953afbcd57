#pragma once
// A read-only view of a matrix in any layout: column-major, row-major or a
// slice of either, with non-negative steps between rows and between columns.
// Functions that only read a large design take it, so that no layout forces a copy.

#include <Eigen/Core>

namespace vexa {

using StridedMatrix =
    Eigen::Ref<const Eigen::MatrixXd, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;

}  // namespace vexa
