#pragma once
// A read-only view of a matrix in any layout: column-major, row-major or a
// slice of either, with positive steps between rows and between columns (Eigen
// takes a step of 0 for the contiguous one, so a repeating view must be copied).
// Functions that only read a large design take it, so that no layout forces a copy.

#include <Eigen/Core>

namespace vexa {

using StridedMatrix =
    Eigen::Ref<const Eigen::MatrixXd, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;

}  // namespace vexa
