#include "fit/tall_qr.hpp"

#include "common/checks.hpp"
#include "common/thread_team.hpp"
#include "kernels/householder_columns.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace vexa {

namespace {

using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// The kernels take rows in lanes of eight.
constexpr Eigen::Index kLanes = 8;
// A block of rows with y beside it stays in the first-level cache, where the
// passes over its columns run at full speed; at least 64 rows, so that the
// scalar work of each reflection stays small beside its passes.
constexpr Eigen::Index kBlockBytes = Eigen::Index{24} << 10;
constexpr Eigen::Index kMinBlockRows = 64;
// Rows are copied from X several blocks at a time: a column-major X is read in
// p streams, and longer runs of each keep the memory system busy (copying
// 150-row blocks of 20 columns runs at half the speed of 1500-row ones).
constexpr Eigen::Index kGatherBytes = Eigen::Index{256} << 10;
// A chunk's rows take about this many multiply-adds, so that a chunk is worth a
// thread and folding its p x p factor into the others costs little beside it.
constexpr double kChunkProducts = 4e6;
constexpr int kNoRows = INT_MIN;  // the exponent of a factor that has seen no non-zero row

Eigen::Index round_up(Eigen::Index count, Eigen::Index multiple) {
    return (count + multiple - 1) / multiple * multiple;
}

Eigen::Index block_rows(Eigen::Index p) {
    return round_up(std::max(kMinBlockRows,
                             kBlockBytes / (static_cast<Eigen::Index>(sizeof(double)) * (p + 1))),
                    kLanes);
}

// A whole number of blocks.
Eigen::Index gather_rows(Eigen::Index p) {
    const Eigen::Index block = block_rows(p);
    return block *
           std::max<Eigen::Index>(
               1, kGatherBytes / (static_cast<Eigen::Index>(sizeof(double)) * (p + 1) * block));
}

// Chunks of at least 16p rows: folding a chunk's factor costs about p³, a
// sixteenth of its own reduction at most.
Eigen::Index chunk_count(Eigen::Index n, Eigen::Index p) {
    const double columns = static_cast<double>(p + 1);
    const double rows =
        std::max(16.0 * static_cast<double>(p), kChunkProducts / (columns * columns));
    return std::max<Eigen::Index>(1, static_cast<Eigen::Index>(static_cast<double>(n) / rows));
}

// A triangular factor with Qᵀy beside it, p x (p + 1): R in the first p columns,
// in units of 2^exponent. Row-major, since each reflection updates one row.
struct Triangle {
    RowMajorMatrix Rq;
    int exponent = kNoRows;
    bool finite = true;
};

// The R part of t in units of 2^exponent (exponent >= t.exponent).
void raise_exponent(Triangle& t, int exponent) {
    if (t.exponent != kNoRows && exponent != t.exponent) {
        const Eigen::Index p = t.Rq.rows();
        for (Eigen::Index j = 0; j < p; ++j)
            scale_by_power_of_two(t.Rq.row(j).data(), p, t.exponent - exponent);
    }
    t.exponent = exponent;
}

// Folds a block [B b] of `rows` rows (a multiple of 8), column k at block + k *
// stride, into Rq: reflections make [Rq; B b] = Q [Rq'; 0 r], and Rq becomes Rq'.
// The block is overwritten. `products` and `factors` hold p + 1 doubles each.
void fold_block(RowMajorMatrix& Rq, double* block, Eigen::Index stride, Eigen::Index rows,
                const HouseholderColumns& passes, double* products, double* factors) {
    const Eigen::Index p = Rq.rows();
    const Eigen::Index last = p + 1;
    passes.products(block, stride, rows, 0, 0, last, products);
    for (Eigen::Index j = 0; j < p; ++j) {
        const double c0 = Rq(j, j);
        const double tail = products[j];
        // A column whose part in the block squares to less than the smallest
        // normal double is left as it is (below 1e-154 against entries of up to 1).
        if (tail <= std::numeric_limits<double>::min()) {
            if (j + 1 < p) passes.products(block, stride, rows, j + 1, j + 1, last, products);
            continue;
        }
        // The reflection I - tau v vᵀ with v = (1, B_j / (c0 - beta)) maps the
        // column (c0, B_j) to (beta, 0); beta takes the sign that avoids cancellation.
        const double norm = std::sqrt(c0 * c0 + tail);
        const double beta = c0 >= 0 ? -norm : norm;
        const double inverse = 1.0 / (c0 - beta);
        const double tau = (beta - c0) / beta;
        double* row = Rq.row(j).data();
        for (Eigen::Index k = j + 1; k < last; ++k) {
            const double w = tau * (row[k] + products[k] * inverse);
            row[k] -= w;
            factors[k] = w * inverse;
        }
        row[j] = beta;
        passes.reflect_and_products(block, stride, rows, j, last, factors, products);
    }
}

// Copies rows [first, first + rows) of X into the block (column k at block + k *
// stride) and returns the largest magnitude among them, or infinity when one is
// not finite.
double copy_rows(const StridedMatrix& X, Eigen::Index first, Eigen::Index rows, double* block,
                 Eigen::Index stride, const HouseholderColumns& passes) {
    double largest = 0;
    for (Eigen::Index k = 0; k < X.cols(); ++k)
        largest = std::max(largest, passes.copy_column(&X.coeffRef(first, k), X.innerStride(), rows,
                                                       block + k * stride));
    return largest;
}

int exponent_of_largest(const Eigen::Ref<const Eigen::VectorXd>& v) {
    if (v.size() == 0 || !v.allFinite()) return 0;
    return scale_exponent(v.cwiseAbs().maxCoeff());
}

}  // namespace

int scale_exponent(double largest) {
    if (!(largest > 0) || !std::isfinite(largest)) return 0;
    int exponent = 0;
    std::frexp(largest, &exponent);
    return exponent;
}

void scale_by_power_of_two(double* values, Eigen::Index count, int exponent) {
    // In steps that keep the factor a normal double.
    while (exponent != 0) {
        const int step = std::clamp(exponent, -1000, 1000);
        const double factor = std::ldexp(1.0, step);
        for (Eigen::Index i = 0; i < count; ++i) values[i] *= factor;
        exponent -= step;
    }
}

TallQr tall_qr(const StridedMatrix& X, const Eigen::Ref<const Eigen::VectorXd>& y,
               const Cancellation& cancel, SimdPath path) {
    const HouseholderColumns& passes = householder_columns(path);
    const Eigen::Index n = X.rows();
    const Eigen::Index p = X.cols();
    const Eigen::Index fold = block_rows(p);
    const Eigen::Index stride = gather_rows(p);
    const Eigen::Index chunks = chunk_count(n, p);
    require_allocatable(chunks * p, p + 1);
    require_allocatable(stride, p + 1, 2);
    const int y_exponent = exponent_of_largest(y);

    std::vector<Triangle> triangles(static_cast<std::size_t>(chunks));
    const double operations =
        2.0 * static_cast<double>(n) * static_cast<double>(p + 1) * static_cast<double>(p + 1);
    const auto reduce_chunk = [&](std::int64_t c) {
        Triangle& t = triangles[static_cast<std::size_t>(c)];
        t = Triangle{RowMajorMatrix::Zero(p, p + 1)};
        Eigen::MatrixXd block = Eigen::MatrixXd::Zero(stride, p + 1);
        std::vector<double> products(static_cast<std::size_t>(p + 1));
        std::vector<double> factors(static_cast<std::size_t>(p + 1));
        ThrottledCheck check(cancel, 2 * stride * (p + 1) * (p + 1));
        const Eigen::Index end = (c + 1) * n / chunks;
        for (Eigen::Index r0 = c * n / chunks; r0 < end; r0 += stride) {
            check.tick();
            const Eigen::Index rows = std::min(stride, end - r0);
            const Eigen::Index padded = round_up(rows, kLanes);
            const double largest = copy_rows(X, r0, rows, block.data(), stride, passes);
            if (rows < padded) block.middleRows(rows, padded - rows).setZero();
            if (std::isinf(largest)) {
                t.finite = false;
                return;
            }
            // Rows of zeros leave the factor as it is.
            if (largest == 0) continue;
            // Entries below 1 in magnitude: their squares and the norms cannot overflow.
            raise_exponent(t, std::max(t.exponent, scale_exponent(largest)));
            for (Eigen::Index k = 0; k < p; ++k)
                scale_by_power_of_two(block.col(k).data(), rows, -t.exponent);
            block.col(p).head(rows) = y.segment(r0, rows);
            scale_by_power_of_two(block.col(p).data(), rows, -y_exponent);
            for (Eigen::Index s0 = 0; s0 < padded; s0 += fold)
                fold_block(t.Rq, block.data() + s0, stride, std::min(fold, padded - s0), passes,
                           products.data(), factors.data());
        }
    };
    parallel_for(chunks, cancel, reduce_chunk, operations);

    // The chunks' factors, folded in chunk order into the first.
    Triangle& total = triangles.front();
    const Eigen::Index padded = round_up(p, kLanes);
    Eigen::MatrixXd block = Eigen::MatrixXd::Zero(padded, p + 1);
    std::vector<double> products(static_cast<std::size_t>(p + 1));
    std::vector<double> factors(static_cast<std::size_t>(p + 1));
    for (const Triangle& t : triangles) total.finite = total.finite && t.finite;
    for (std::size_t c = 1; c < triangles.size() && total.finite; ++c) {
        const Triangle& t = triangles[c];
        if (t.exponent == kNoRows) continue;
        cancel.check();
        raise_exponent(total, std::max(total.exponent, t.exponent));
        block.setZero();
        block.topRows(p) = t.Rq;
        for (Eigen::Index k = 0; k < p; ++k)
            scale_by_power_of_two(block.col(k).data(), p, t.exponent - total.exponent);
        fold_block(total.Rq, block.data(), padded, padded, passes, products.data(), factors.data());
    }

    TallQr result;
    result.finite = total.finite;
    result.x_exponent = total.exponent == kNoRows ? 0 : total.exponent;
    result.y_exponent = y_exponent;
    result.R = total.Rq.leftCols(p);
    result.Qty = total.Rq.col(p);
    return result;
}

}  // namespace vexa
