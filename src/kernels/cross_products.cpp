#include "kernels/cross_products.hpp"

#include "common/thread_team.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#define VEXA_KERNEL_BODY "kernels/cross_products_body.inc"
#include "kernels/per_instruction_set.inc"

namespace vexa {

namespace {

// Rows taken per sweep over the tiles: a block of all columns stays in L2, and
// a tile's columns over the block stay in L1 while it runs through its lanes
// one register at a time. Any multiple of the lane count gives the same sums.
constexpr std::int64_t kRowBlock = 512;
constexpr std::int64_t kLanes = 8;
// Groups of tiles per thread of a team of two or more: a thread slowed by other
// work leaves its share to the others. One thread takes every tile in one
// group, so that it reads each column once.
constexpr std::int64_t kGroupsPerThread = 2;
// Rows gathered per thread of the team in one chunk of a row-major matrix.
constexpr std::int64_t kChunkRowsPerThread = 1024;
// Work space (lane accumulators, gathered rows) that the cross products may hold
// at one time, in doubles: half the m x m result, or this floor, whichever is more.
constexpr std::int64_t kWorkFloor = std::int64_t{1} << 20;

std::int64_t work_limit(std::int64_t m) { return std::max(m * m / 2, kWorkFloor); }

std::int64_t groups_for_team(std::int64_t width) {
    return width > 1 ? kGroupsPerThread * width : 1;
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

// Tiles [first, last) of `tiles` through rows [0, rows) of `columns`, a row block
// at a time in row order, so that the block of every column the tiles read stays
// in L2 while they sweep it. acc holds the tiles' lane accumulators one after
// another; each lane adds its rows' products in row order.
void advance_tiles(const double* const* columns, std::int64_t m, std::int64_t rows,
                   const std::vector<std::int64_t>& tiles, std::int64_t first, std::int64_t last,
                   const TileKernel& kernel, double* acc, const Cancellation& cancel) {
    const std::int64_t T = kernel.size;
    const std::int64_t per_tile = T * T * kLanes;
    ThrottledCheck check(cancel, (last - first) * T * T * kRowBlock);
    for (std::int64_t r0 = 0; r0 < rows; r0 += kRowBlock) {
        check.tick();
        const std::int64_t r1 = std::min(rows, r0 + kRowBlock);
        for (std::int64_t t = first; t < last; ++t)
            kernel.advance(columns, m, T, tiles[static_cast<std::size_t>(2 * t)],
                           tiles[static_cast<std::size_t>(2 * t + 1)], r0, r1,
                           acc + (t - first) * per_tile);
    }
}

// out(j, k) for the pairs of tiles [first, last) with k <= j < m: the eight lanes
// of each accumulator added in one fixed tree.
void store_tiles(std::int64_t m, const std::vector<std::int64_t>& tiles, std::int64_t first,
                 std::int64_t last, std::int64_t T, const double* acc, double* out) {
    for (std::int64_t t = first; t < last; ++t) {
        const std::int64_t j0 = tiles[static_cast<std::size_t>(2 * t)];
        const std::int64_t k0 = tiles[static_cast<std::size_t>(2 * t + 1)];
        const double* tile = acc + (t - first) * T * T * kLanes;
        for (std::int64_t a = 0; a < T && j0 + a < m; ++a)
            for (std::int64_t b = 0; b < T && k0 + b <= j0 + a; ++b)
                out[(k0 + b) * m + j0 + a] =
                    baseline::lanes::reduce(baseline::lanes::load(tile + (a * T + b) * kLanes));
    }
}

// Contiguous columns: the tiles on the thread team in one loop. Consecutive
// tiles form groups, a few per thread so that a thread slowed by other work
// leaves its share to the others; each group runs through every row with lane
// accumulators of its own that start from zero, so running it again gives the
// same sums. Wide matrices take more, smaller groups, so that the accumulators
// of the groups at work stay within half the work limit.
void cross_products_in_place(const double* const* columns, std::int64_t m, std::int64_t n,
                             const std::vector<std::int64_t>& tiles, const TileKernel& kernel,
                             double* out, const Cancellation& cancel) {
    const std::int64_t count = static_cast<std::int64_t>(tiles.size() / 2);
    const std::int64_t width = team_width();
    const std::int64_t per_tile = kernel.size * kernel.size * kLanes;
    const std::int64_t tiles_at_work =
        std::max<std::int64_t>(1, work_limit(m) / (2 * width * per_tile));
    const std::int64_t groups = std::min<std::int64_t>(
        count, std::max(groups_for_team(width), (count + tiles_at_work - 1) / tiles_at_work));
    const double operations =
        2.0 * static_cast<double>(n) * static_cast<double>(count * kernel.size * kernel.size);
    parallel_for(
        groups, cancel,
        [&](std::int64_t g) {
            const std::int64_t first = g * count / groups;
            const std::int64_t last = (g + 1) * count / groups;
            std::vector<double> acc(static_cast<std::size_t>((last - first) * per_tile), 0.0);
            advance_tiles(columns, m, n, tiles, first, last, kernel, acc.data(), cancel);
            store_tiles(m, tiles, first, last, kernel.size, acc.data(), out);
        },
        operations);
}

// Rows [r0, r1) of the strided columns into `buffer`, gathered column s at
// buffer + s * stride. Eight rows at a time: their entries stay in the first-level
// cache while each column's eight values are copied to one cache line.
void gather_rows(const double* const* columns, const std::int64_t* row_steps,
                 const std::vector<std::int64_t>& strided, std::int64_t r0, std::int64_t r1,
                 std::int64_t stride, double* buffer, const Cancellation& cancel) {
    const std::int64_t width = static_cast<std::int64_t>(strided.size());
    ThrottledCheck check(cancel, kLanes * width);
    for (std::int64_t i0 = r0; i0 < r1; i0 += kLanes) {
        check.tick();
        const std::int64_t rows = std::min(kLanes, r1 - i0);
        for (std::int64_t s = 0; s < width; ++s) {
            const std::int64_t j = strided[static_cast<std::size_t>(s)];
            const std::int64_t step = row_steps[j];
            const double* from = columns[j] + i0 * step;
            double* to = buffer + s * stride + (i0 - r0);
            if (rows == kLanes) {
#pragma GCC unroll 8
                for (std::int64_t r = 0; r < kLanes; ++r) to[r] = from[r * step];
            } else {
                for (std::int64_t r = 0; r < rows; ++r) to[r] = from[r * step];
            }
        }
    }
}

// Strided columns (a row-major matrix): the rows are gathered once, a chunk at
// a time, into contiguous columns that every group of tiles then reads, so that
// the matrix is read once whatever the number of groups. One loop on the team
// per chunk: the groups of tiles advance through the chunk while one more index
// gathers the next chunk into the other buffer. A group reads its accumulators
// as they were before the chunk and writes them to the other accumulator buffer,
// so that running it again gives the same sums. Tiles whose accumulators would
// pass half the work limit run in several sets, each through every chunk.
void cross_products_gathered(const double* const* columns, const std::int64_t* row_steps,
                             std::int64_t m, std::int64_t n, const std::vector<std::int64_t>& tiles,
                             const TileKernel& kernel, double* out, const Cancellation& cancel) {
    std::vector<std::int64_t> strided;
    for (std::int64_t j = 0; j < m; ++j)
        if (row_steps[j] != 1) strided.push_back(j);
    const std::int64_t width = static_cast<std::int64_t>(strided.size());
    const std::int64_t limit = work_limit(m);
    // A chunk is 1024 rows per thread of the team: larger chunks, read back
    // from L3 instead of L2, cost more than the wake-ups of the loops they save.
    // Two chunks stay within half the limit. Gathered columns lie one cache line
    // more than a chunk apart, so that the columns of one row fall into different
    // cache sets (at a power of two apart they would all compete for one set).
    const std::int64_t team = team_width();
    const std::int64_t chunk_rows =
        std::min({team * kChunkRowsPerThread,
                  std::max((limit / (4 * width) - kLanes) / kLanes * kLanes, 8 * kLanes),
                  std::max<std::int64_t>(n, 1)});
    const std::int64_t stride = chunk_rows + kLanes;
    std::vector<double> chunks[2];
    for (std::vector<double>& chunk : chunks)
        chunk.resize(static_cast<std::size_t>(width * stride));

    const std::int64_t count = static_cast<std::int64_t>(tiles.size() / 2);
    const std::int64_t T = kernel.size;
    const std::int64_t per_tile = T * T * kLanes;
    const std::int64_t set_size = std::max<std::int64_t>(1, limit / (4 * per_tile));
    for (std::int64_t s0 = 0; s0 < count; s0 += set_size) {
        const std::int64_t set = std::min(set_size, count - s0);
        const std::int64_t groups = std::min<std::int64_t>(set, groups_for_team(team));
        std::vector<double> acc[2];
        acc[0].assign(static_cast<std::size_t>(set * per_tile), 0.0);
        acc[1].resize(acc[0].size());
        gather_rows(columns, row_steps, strided, 0, std::min(n, chunk_rows), stride,
                    chunks[0].data(), cancel);
        for (std::int64_t c = 0, r0 = 0; r0 < n; ++c, r0 += chunk_rows) {
            const std::int64_t rows = std::min(chunk_rows, n - r0);
            const std::int64_t next = r0 + rows;
            const double* before = acc[c % 2].data();
            double* after = acc[(c + 1) % 2].data();
            std::vector<const double*> chunk_columns(static_cast<std::size_t>(m));
            for (std::int64_t j = 0, s = 0; j < m; ++j)
                chunk_columns[static_cast<std::size_t>(j)] =
                    row_steps[j] != 1 ? chunks[c % 2].data() + stride * s++ : columns[j] + r0;
            const double operations =
                2.0 * static_cast<double>(rows) * static_cast<double>(set * T * T);
            parallel_for(
                groups + 1, cancel,
                [&](std::int64_t g) {
                    if (g == 0) {
                        gather_rows(columns, row_steps, strided, next,
                                    std::min(n, next + chunk_rows), stride,
                                    chunks[(c + 1) % 2].data(), cancel);
                        return;
                    }
                    const std::int64_t first = (g - 1) * set / groups;
                    const std::int64_t last = g * set / groups;
                    std::copy(before + first * per_tile, before + last * per_tile,
                              after + first * per_tile);
                    advance_tiles(chunk_columns.data(), m, rows, tiles, s0 + first, s0 + last,
                                  kernel, after + first * per_tile, cancel);
                },
                operations);
        }
        const std::int64_t chunks_done = (n + chunk_rows - 1) / chunk_rows;
        store_tiles(m, tiles, s0, s0 + set, T, acc[chunks_done % 2].data(), out);
    }
}

}  // namespace

void cross_products(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                    std::int64_t n, double* out, SimdPath path, const Cancellation& cancel) {
    if (m <= 0) return;
    const TileKernel kernel = tile_kernel(path);
    const std::vector<std::int64_t> tiles = list_tiles(m, kernel.size);
    if (row_steps && std::any_of(row_steps, row_steps + m, [](std::int64_t s) { return s != 1; }))
        cross_products_gathered(columns, row_steps, m, n, tiles, kernel, out, cancel);
    else
        cross_products_in_place(columns, m, n, tiles, kernel, out, cancel);
}

}  // namespace vexa
