#include "kernels/cross_products.hpp"

#include "common/thread_team.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#define VEXA_KERNEL_BODY "kernels/cross_products_body.inc"
#include "kernels/per_instruction_set.inc"

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
// Groups of tiles per thread of the team.
constexpr std::int64_t kGroupsPerThread = 2;

std::int64_t padded(std::int64_t m) { return (m + kGridStep - 1) / kGridStep * kGridStep; }

// One path's step over a tile, and its tile size.
struct TileKernel {
    void (*advance)(const double* const* columns, std::int64_t m, std::int64_t grid_columns,
                    std::int64_t j0, std::int64_t k0, std::int64_t r0, std::int64_t r1,
                    double* grid);
    std::int64_t size;
};

TileKernel tile_kernel(SimdPath path) {
    return kernel_for(path, TileKernel{baseline::advance_tile_at, baseline::kTile},
                      TileKernel{avx2::advance_tile_at, avx2::kTile},
                      TileKernel{avx512::advance_tile_at, avx512::kTile});
}

// (j0, k0) of every tile on or below the diagonal, tiles of size x size pairs.
std::vector<std::int64_t> list_tiles(std::int64_t m, std::int64_t size) {
    std::vector<std::int64_t> tiles;
    for (std::int64_t j0 = 0; j0 < m; j0 += size)
        for (std::int64_t k0 = 0; k0 <= j0; k0 += size) tiles.insert(tiles.end(), {j0, k0});
    return tiles;
}

// Tiles [first, last) of `tiles` through every row block in row order, on one
// thread: their accumulators start from zero, so that running the group again
// gives the same sums. The strided columns the tiles read are gathered a block of
// rows at a time, row by row, so that a row-major matrix is read along its rows.
void advance_group(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                   std::int64_t n, const std::vector<std::int64_t>& tiles, std::int64_t first,
                   std::int64_t last, const TileKernel& kernel, double* grid,
                   const Cancellation& cancel) {
    const std::int64_t mp = padded(m);
    const std::int64_t T = kernel.size;
    std::vector<char> used(static_cast<std::size_t>(m), 0);
    for (std::int64_t t = first; t < last; ++t) {
        const std::int64_t j0 = tiles[static_cast<std::size_t>(2 * t)];
        const std::int64_t k0 = tiles[static_cast<std::size_t>(2 * t + 1)];
        for (std::int64_t u = 0; u < T; ++u) {
            used[static_cast<std::size_t>(std::min(j0 + u, m - 1))] = 1;
            used[static_cast<std::size_t>(std::min(k0 + u, m - 1))] = 1;
            if (j0 + u < mp)
                std::fill(grid + ((j0 + u) * mp + k0) * kLanes,
                          grid + ((j0 + u) * mp + k0 + T) * kLanes, 0.0);
        }
    }
    std::vector<std::int64_t> strided;
    for (std::int64_t j = 0; j < m; ++j)
        if (used[static_cast<std::size_t>(j)] && row_steps && row_steps[j] != 1)
            strided.push_back(j);
    std::vector<double> block(strided.size() * static_cast<std::size_t>(kGatherStride));
    std::vector<const double*> block_columns(static_cast<std::size_t>(m), nullptr);
    for (std::size_t s = 0; s < strided.size(); ++s)
        block_columns[static_cast<std::size_t>(strided[s])] =
            block.data() + static_cast<std::int64_t>(s) * kGatherStride;

    ThrottledCheck check(cancel, (last - first) * T * T * kRowBlock);
    for (std::int64_t r0 = 0; r0 < n; r0 += kRowBlock) {
        check.tick();
        const std::int64_t r1 = std::min(n, r0 + kRowBlock);
        for (std::int64_t j = 0; j < m; ++j)
            if (used[static_cast<std::size_t>(j)] && !(row_steps && row_steps[j] != 1))
                block_columns[static_cast<std::size_t>(j)] = columns[j] + r0;
        for (std::int64_t i = r0; i < r1; ++i)
            for (std::size_t s = 0; s < strided.size(); ++s) {
                const std::int64_t j = strided[s];
                block[s * static_cast<std::size_t>(kGatherStride) +
                      static_cast<std::size_t>(i - r0)] = columns[j][i * row_steps[j]];
            }
        for (std::int64_t t = first; t < last; ++t)
            kernel.advance(block_columns.data(), m, mp, tiles[static_cast<std::size_t>(2 * t)],
                           tiles[static_cast<std::size_t>(2 * t + 1)], 0, r1 - r0, grid);
    }
}

// The tiles on the thread team in one loop: consecutive tiles form groups, a few
// per thread so that a thread slowed by other work leaves its share to the
// others, but one per thread when columns are gathered, since each group reads
// whole rows of a row-major matrix. Every tile adds its row blocks in row order
// on one thread, so the sums are the same for every team width and grouping.
void advance_tiles_on_team(const double* const* columns, const std::int64_t* row_steps,
                           std::int64_t m, std::int64_t n, const std::vector<std::int64_t>& tiles,
                           const TileKernel& kernel, double* grid, const Cancellation& cancel) {
    const std::int64_t count = static_cast<std::int64_t>(tiles.size() / 2);
    const bool gathers =
        row_steps && std::any_of(row_steps, row_steps + m, [](std::int64_t s) { return s != 1; });
    const std::int64_t groups =
        std::min<std::int64_t>(count, (gathers ? 1 : kGroupsPerThread) * team_width());
    const double operations =
        2.0 * static_cast<double>(n) * static_cast<double>(count * kernel.size * kernel.size);
    parallel_for(
        groups, cancel,
        [&](std::int64_t g) {
            advance_group(columns, row_steps, m, n, tiles, g * count / groups,
                          (g + 1) * count / groups, kernel, grid, cancel);
        },
        operations);
}

// out(j, k) for k <= j < m: the eight lanes of each pair added in one fixed tree.
void reduce_lanes(const double* grid, std::int64_t m, std::int64_t grid_columns, double* out) {
    for (std::int64_t k = 0; k < m; ++k)
        for (std::int64_t j = k; j < m; ++j)
            out[k * m + j] = baseline::lanes::reduce(
                baseline::lanes::load(grid + (j * grid_columns + k) * kLanes));
}

}  // namespace

std::int64_t cross_products_work(std::int64_t m) { return padded(m) * padded(m) * kLanes; }

void cross_products(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                    std::int64_t n, double* out, double* work, SimdPath path,
                    const Cancellation& cancel) {
    if (m <= 0) return;
    const TileKernel kernel = tile_kernel(path);
    advance_tiles_on_team(columns, row_steps, m, n, list_tiles(m, kernel.size), kernel, work,
                          cancel);
    reduce_lanes(work, m, padded(m), out);
}

}  // namespace vexa
