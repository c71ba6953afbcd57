#include "kernels/cross_products.hpp"

#include "common/thread_team.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#define VEXA_KERNEL_BODY "kernels/cross_products_body.inc"
#include "kernels/per_instruction_set.inc"

namespace vexa {

namespace {

// Rows taken per sweep over the tiles: a block of all columns stays in L2. Any
// multiple of the lane count gives the same sums.
constexpr std::int64_t kRowBlock = 1024;
constexpr std::int64_t kLanes = 8;
// Groups of tiles per thread of the team.
constexpr std::int64_t kGroupsPerThread = 2;
// Work space (lane accumulators, gathered rows) that the groups at work may hold
// together, in doubles: half the m x m result, or this floor, whichever is more.
// Below the floor the grouping and the row blocks follow the team alone.
constexpr std::int64_t kWorkFloor = std::int64_t{1} << 20;

std::int64_t work_limit(std::int64_t m) { return std::max(m * m / 2, kWorkFloor); }

// Rows of the strided columns gathered at a time by one group: a full row block
// unless the gathered block of every group at work would pass half the work limit.
std::int64_t gathered_rows(std::int64_t m, std::int64_t strided_columns) {
    const std::int64_t rows = work_limit(m) / (2 * team_width() * strided_columns);
    return std::clamp<std::int64_t>(rows / kLanes * kLanes, 8 * kLanes, kRowBlock);
}

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
// thread, each with lane accumulators of its own that start from zero (so that
// running the group again gives the same sums); then out(j, k) for the group's
// pairs with k <= j < m, the eight lanes added in one fixed tree. The strided
// columns the tiles read are gathered a block of rows at a time, row by row, so
// that a row-major matrix is read along its rows.
void advance_group(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                   std::int64_t n, const std::vector<std::int64_t>& tiles, std::int64_t first,
                   std::int64_t last, const TileKernel& kernel, double* out,
                   const Cancellation& cancel) {
    const std::int64_t T = kernel.size;
    const std::int64_t per_tile = T * T * kLanes;
    std::vector<double> acc(static_cast<std::size_t>((last - first) * per_tile), 0.0);
    std::vector<char> used(static_cast<std::size_t>(m), 0);
    for (std::int64_t t = first; t < last; ++t)
        for (std::int64_t u = 0; u < T; ++u) {
            used[static_cast<std::size_t>(
                std::min(tiles[static_cast<std::size_t>(2 * t)] + u, m - 1))] = 1;
            used[static_cast<std::size_t>(
                std::min(tiles[static_cast<std::size_t>(2 * t + 1)] + u, m - 1))] = 1;
        }
    std::vector<std::int64_t> strided;
    for (std::int64_t j = 0; j < m; ++j)
        if (used[static_cast<std::size_t>(j)] && row_steps && row_steps[j] != 1)
            strided.push_back(j);
    // Gathered columns lie one cache line more than a block apart, so that the
    // columns of one row fall into different cache sets (at a power of two apart
    // they would all compete for one set).
    const std::int64_t block_rows =
        strided.empty() ? kRowBlock : gathered_rows(m, static_cast<std::int64_t>(strided.size()));
    const std::int64_t gather_stride = block_rows + kLanes;
    std::vector<double> block(strided.size() * static_cast<std::size_t>(gather_stride));
    std::vector<const double*> block_columns(static_cast<std::size_t>(m), nullptr);
    for (std::size_t s = 0; s < strided.size(); ++s)
        block_columns[static_cast<std::size_t>(strided[s])] =
            block.data() + static_cast<std::int64_t>(s) * gather_stride;

    ThrottledCheck check(cancel, (last - first) * T * T * block_rows);
    for (std::int64_t r0 = 0; r0 < n; r0 += block_rows) {
        check.tick();
        const std::int64_t r1 = std::min(n, r0 + block_rows);
        for (std::int64_t j = 0; j < m; ++j)
            if (used[static_cast<std::size_t>(j)] && !(row_steps && row_steps[j] != 1))
                block_columns[static_cast<std::size_t>(j)] = columns[j] + r0;
        for (std::int64_t i = r0; i < r1; ++i)
            for (std::size_t s = 0; s < strided.size(); ++s) {
                const std::int64_t j = strided[s];
                block[s * static_cast<std::size_t>(gather_stride) +
                      static_cast<std::size_t>(i - r0)] = columns[j][i * row_steps[j]];
            }
        for (std::int64_t t = first; t < last; ++t)
            kernel.advance(block_columns.data(), m, T, tiles[static_cast<std::size_t>(2 * t)],
                           tiles[static_cast<std::size_t>(2 * t + 1)], 0, r1 - r0,
                           acc.data() + (t - first) * per_tile);
    }

    for (std::int64_t t = first; t < last; ++t) {
        const std::int64_t j0 = tiles[static_cast<std::size_t>(2 * t)];
        const std::int64_t k0 = tiles[static_cast<std::size_t>(2 * t + 1)];
        const double* tile = acc.data() + (t - first) * per_tile;
        for (std::int64_t a = 0; a < T && j0 + a < m; ++a)
            for (std::int64_t b = 0; b < T && k0 + b <= j0 + a; ++b)
                out[(k0 + b) * m + j0 + a] =
                    baseline::lanes::reduce(baseline::lanes::load(tile + (a * T + b) * kLanes));
    }
}

// The tiles on the thread team in one loop: consecutive tiles form groups, a few
// per thread so that a thread slowed by other work leaves its share to the
// others, but one per thread when columns are gathered, since each group reads
// whole rows of a row-major matrix. Wide matrices take more, smaller groups, so
// that the accumulators of the groups at work stay within half the work limit. Every tile adds its
// row blocks in row order on one thread, so the sums are the same for every team width and
// grouping.
void advance_tiles_on_team(const double* const* columns, const std::int64_t* row_steps,
                           std::int64_t m, std::int64_t n, const std::vector<std::int64_t>& tiles,
                           const TileKernel& kernel, double* out, const Cancellation& cancel) {
    const std::int64_t count = static_cast<std::int64_t>(tiles.size() / 2);
    const bool gathers =
        row_steps && std::any_of(row_steps, row_steps + m, [](std::int64_t s) { return s != 1; });
    const std::int64_t width = team_width();
    const std::int64_t per_tile = kernel.size * kernel.size * kLanes;
    const std::int64_t tiles_at_work =
        std::max<std::int64_t>(1, work_limit(m) / (2 * width * per_tile));
    const std::int64_t groups =
        std::min<std::int64_t>(count, std::max((gathers ? 1 : kGroupsPerThread) * width,
                                               (count + tiles_at_work - 1) / tiles_at_work));
    const double operations =
        2.0 * static_cast<double>(n) * static_cast<double>(count * kernel.size * kernel.size);
    parallel_for(
        groups, cancel,
        [&](std::int64_t g) {
            advance_group(columns, row_steps, m, n, tiles, g * count / groups,
                          (g + 1) * count / groups, kernel, out, cancel);
        },
        operations);
}

}  // namespace

void cross_products(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                    std::int64_t n, double* out, SimdPath path, const Cancellation& cancel) {
    if (m <= 0) return;
    const TileKernel kernel = tile_kernel(path);
    advance_tiles_on_team(columns, row_steps, m, n, list_tiles(m, kernel.size), kernel, out,
                          cancel);
}

}  // namespace vexa
