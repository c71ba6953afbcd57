#include "kernels/cross_products.hpp"

#include "common/thread_team.hpp"
#include "kernels/target_attributes.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexa {

namespace {

// Lane accumulators of pair (j, k) sit at grid[(j * mp + k) * 8], on a grid padded
// to mp, a multiple of 4 columns, so that every path's tile size divides it.
constexpr std::int64_t kGridStep = 4;
// Rows taken per sweep over the tiles: a block of all columns stays in L2.
constexpr std::int64_t kRowBlock = 1024;
constexpr std::int64_t kLanes = 8;
// Distance between gathered columns: one cache line more than a row block, so
// that the columns of one row fall into different cache sets (at a power of two
// apart they would all compete for one set).
constexpr std::int64_t kGatherStride = kRowBlock + 8;
// Below this many products a second thread costs more than it saves.
constexpr double kParallelProducts = 4e6;

std::int64_t padded(std::int64_t m) { return (m + kGridStep - 1) / kGridStep * kGridStep; }

#define VEXA_KERNEL_BODY "kernels/cross_products_body.inc"
#include "kernels/per_instruction_set.inc"

using TileStep = void (*)(const double* const*, std::int64_t, std::int64_t, std::int64_t,
                          std::int64_t, std::int64_t, double*);

}  // namespace

std::int64_t cross_products_work(std::int64_t m) { return padded(m) * padded(m) * kLanes; }

void cross_products(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                    std::int64_t n, double* out, double* work, SimdPath path,
                    const Cancellation& cancel) {
    if (m <= 0) return;
    if (!simd_path_supported(path))
        throw std::invalid_argument(std::string("this CPU does not support the ") +
                                    simd_path_name(path) + " path");
    TileStep step = baseline::advance_tile_at;
    std::int64_t T = baseline::kTile;
#if VEXA_X86_DISPATCH
    if (path == SimdPath::avx2) {
        step = avx2::advance_tile_at;
        T = avx2::kTile;
    } else if (path == SimdPath::avx512) {
        step = avx512::advance_tile_at;
        T = avx512::kTile;
    }
#endif
    const std::int64_t mp = padded(m);
    std::fill(work, work + mp * mp * kLanes, 0.0);
    std::vector<std::int64_t> tiles;  // (j0, k0) of every tile on or below the diagonal
    for (std::int64_t j0 = 0; j0 < m; j0 += T)
        for (std::int64_t k0 = 0; k0 <= j0; k0 += T) tiles.insert(tiles.end(), {j0, k0});
    const std::int64_t count = static_cast<std::int64_t>(tiles.size() / 2);

    // The strided columns, and the buffer their current block of rows is gathered into.
    std::vector<std::int64_t> strided;
    for (std::int64_t j = 0; j < m; ++j)
        if (row_steps && row_steps[j] != 1) strided.push_back(j);
    const std::int64_t gathered = static_cast<std::int64_t>(strided.size());
    std::vector<double> block(static_cast<std::size_t>(gathered > 0 ? m * kGatherStride : 0));

    // Every tile is advanced by one thread through all row blocks in row order
    // (the static schedule gives a tile the same thread in every block), so
    // the sums are the same for every team size. Row blocks are multiples of
    // the lane count, so row i always meets lane i mod 8.
    // A forked child has no team to wake (its first parallel region would wait forever).
    const bool parallel =
        static_cast<double>(n) * static_cast<double>(count * T * T) >= kParallelProducts &&
        thread_team_usable();
    // The rows go through in chunks of whole row blocks, about 2^24 products
    // each, with a cancellation check between chunks on the calling thread. A
    // tile still adds its row blocks in row order.
    const std::int64_t blocks_per_check = std::max<std::int64_t>(
        1, (std::int64_t{1} << 24) / (kRowBlock * std::max<std::int64_t>(1, count * T * T)));
    for (std::int64_t c0 = 0; c0 < n; c0 += kRowBlock * blocks_per_check) {
        cancel.check();
        const std::int64_t c1 = std::min(n, c0 + kRowBlock * blocks_per_check);
#pragma omp parallel if (parallel)
        {
            std::vector<const double*> block_columns(static_cast<std::size_t>(m));
            for (std::int64_t r0 = c0; r0 < c1; r0 += kRowBlock) {
                const std::int64_t r1 = std::min(n, r0 + kRowBlock);
                if (gathered > 0) {
                    // Row by row, so that a row-major matrix is read along its rows.
#pragma omp for schedule(static)
                    for (std::int64_t i = r0; i < r1; ++i)
                        for (std::int64_t j : strided)
                            block[static_cast<std::size_t>(j * kGatherStride + i - r0)] =
                                columns[j][i * row_steps[j]];
                }
                for (std::int64_t j = 0; j < m; ++j)
                    block_columns[static_cast<std::size_t>(j)] =
                        row_steps && row_steps[j] != 1 ? block.data() + j * kGatherStride
                                                       : columns[j] + r0;
#pragma omp for schedule(static) nowait
                for (std::int64_t t = 0; t < count; ++t)
                    step(block_columns.data(), m, tiles[static_cast<std::size_t>(2 * t)],
                         tiles[static_cast<std::size_t>(2 * t + 1)], 0, r1 - r0, work);
                // The next block may not be gathered while a tile still reads this one.
                if (gathered > 0) {
#pragma omp barrier
                }
            }
        }
    }

    for (std::int64_t k = 0; k < m; ++k)
        for (std::int64_t j = k; j < m; ++j) {
            const double* lane = work + (j * mp + k) * kLanes;
            // The same fixed tree on every path.
            out[k * m + j] = ((lane[0] + lane[4]) + (lane[2] + lane[6])) +
                             ((lane[1] + lane[5]) + (lane[3] + lane[7]));
        }
}

void cross_products(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                    std::int64_t n, double* out, double* work) {
    cross_products(columns, row_steps, m, n, out, work, widest_simd_path());
}

}  // namespace vexa
