#pragma once
// The triangular factor of a tall matrix and the matching part of Qᵀy, from
// cache-sized blocks of rows.

#include "common/cancellation.hpp"
#include "common/strided_matrix.hpp"

#include <Eigen/Core>

namespace vexa {

struct TallQr {
    Eigen::MatrixXd R;    // p x p, upper triangular
    Eigen::VectorXd Qty;  // the first p entries of Qᵀy
};

// For X (n x p, n >= p) and y (n): an R and Qᵀy with X = Q [R; 0], Q orthogonal.
// The rows are split into blocks whose copies fit in a core's L2 cache, each
// block is reduced by Householder QR on the OpenMP team, and the blocks' stacked
// factors are reduced the same way until one block is left. The blocks depend
// only on n and p, so the result is the same for every thread count. X is read
// where it lies; only one block per thread is copied. `cancel` is checked before
// every block: a fraction of a millisecond of work for a few dozen columns, but
// at p >= 128 a block has 2p to 4p rows and its work grows as p³.
TallQr tall_qr(const StridedMatrix& X, const Eigen::Ref<const Eigen::VectorXd>& y,
               const Cancellation& cancel = Cancellation());

}  // namespace vexa
