#include "fit/tall_qr.hpp"

#include "common/checks.hpp"
#include "common/thread_team.hpp"

#include <Eigen/QR>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

namespace vexa {

namespace {

// A block's copy stays within a core's L2 cache, where the QR's passes over it
// run several times faster than over the whole matrix in memory.
constexpr Eigen::Index kBlockBytes = Eigen::Index{256} << 10;

// At least 2p rows, so that the stacked p x p factors have at most half the rows
// (and a single block when there are no columns).
Eigen::Index rows_per_block(Eigen::Index p) {
    if (p == 0) return std::numeric_limits<Eigen::Index>::max();
    return std::max<Eigen::Index>(2 * p,
                                  kBlockBytes / (static_cast<Eigen::Index>(sizeof(double)) * p));
}

}  // namespace

TallQr tall_qr(const StridedMatrix& X, const Eigen::Ref<const Eigen::VectorXd>& y,
               const Cancellation& cancel) {
    const Eigen::Index n = X.rows();
    const Eigen::Index p = X.cols();
    const Eigen::Index blocks = std::max<Eigen::Index>(1, n / rows_per_block(p));
    require_allocatable(blocks * p, p + 1);
    Eigen::MatrixXd stacked_R(blocks * p, p);
    Eigen::VectorXd stacked_Qty(blocks * p);
    // Blocks of n / blocks rows or one more, each with at least p rows.
    parallel_for(blocks, cancel, [&](std::int64_t b) {
        cancel.check();
        const Eigen::Index first = b * n / blocks;
        const Eigen::Index rows = (b + 1) * n / blocks - first;
        Eigen::MatrixXd A = X.middleRows(first, rows);
        const Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(A);
        stacked_R.middleRows(b * p, p) = A.topRows(p).triangularView<Eigen::Upper>();
        const Eigen::VectorXd Qty = qr.householderQ().adjoint() * y.segment(first, rows);
        stacked_Qty.segment(b * p, p) = Qty.head(p);
    });
    if (blocks == 1) return TallQr{std::move(stacked_R), std::move(stacked_Qty)};
    // [X; y] and [stacked_R; stacked_Qty] differ by a block-diagonal orthogonal
    // factor, so the stacked system has the same R and Qᵀy.
    return tall_qr(stacked_R, stacked_Qty, cancel);
}

}  // namespace vexa
