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
// Below this many products a second thread costs more than it saves.
constexpr double kParallelProducts = 4e6;
// About this many products between two checks for cancellation.
constexpr std::int64_t kProductsPerCheck = std::int64_t{1} << 24;

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

// Everything a pass of the tiles over the rows reads and writes.
struct Sweep {
    const double* const* columns;
    const std::int64_t* row_steps;  // null: step 1 for every column
    std::int64_t m;
    std::int64_t grid_columns;
    double* grid;
    TileKernel kernel;
    std::vector<std::int64_t> tiles;    // (j0, k0) pairs
    std::vector<std::int64_t> strided;  // the columns read through a step other than 1
    std::vector<double> gathered;       // their current block of rows, kGatherStride apart

    bool is_strided(std::int64_t j) const { return row_steps && row_steps[j] != 1; }
    std::int64_t tile_count() const { return static_cast<std::int64_t>(tiles.size() / 2); }
    // Products of one row over all tiles.
    std::int64_t products_per_row() const { return tile_count() * kernel.size * kernel.size; }
};

// The tiles of `path` and the strided columns; refuses a path this CPU lacks.
Sweep plan_sweep(const double* const* columns, const std::int64_t* row_steps, std::int64_t m,
                 double* grid, SimdPath path) {
    Sweep s{columns, row_steps, m, padded(m), grid, tile_kernel(path), {}, {}, {}};
    s.tiles = list_tiles(m, s.kernel.size);
    for (std::int64_t j = 0; j < m; ++j)
        if (s.is_strided(j)) s.strided.push_back(j);
    if (!s.strided.empty()) s.gathered.resize(static_cast<std::size_t>(m * kGatherStride));
    return s;
}

// Copies rows [r0, r1) of the strided columns into the gathered block, this
// thread's share of the rows, row by row so that a row-major matrix is read
// along its rows; the team waits at the end. Then points `block` at row r0 of
// every column, in place or in the gathered block.
void gather_rows(Sweep& s, std::int64_t r0, std::int64_t r1, const double** block) {
    if (!s.strided.empty()) {
#pragma omp for schedule(static)
        for (std::int64_t i = r0; i < r1; ++i)
            for (std::int64_t j : s.strided)
                s.gathered[static_cast<std::size_t>(j * kGatherStride + i - r0)] =
                    s.columns[j][i * s.row_steps[j]];
    }
    for (std::int64_t j = 0; j < s.m; ++j)
        block[j] = s.is_strided(j) ? s.gathered.data() + j * kGatherStride : s.columns[j] + r0;
}

// Advances this thread's share of the tiles through `rows` rows of `block`.
// The static schedule gives a tile the same thread in every block, so every
// tile adds its row blocks in row order.
void advance_tiles(const Sweep& s, const double* const* block, std::int64_t rows) {
#pragma omp for schedule(static) nowait
    for (std::int64_t t = 0; t < s.tile_count(); ++t)
        s.kernel.advance(block, s.m, s.grid_columns, s.tiles[static_cast<std::size_t>(2 * t)],
                         s.tiles[static_cast<std::size_t>(2 * t + 1)], 0, rows, s.grid);
}

// Rows [c0, c1) a row block at a time, on the thread team when `parallel` and
// the team is usable (a forked child has no team to wake: its first parallel
// region would wait forever). Row blocks are multiples of the lane count, so
// row i always meets lane i mod 8, and the sums are the same for every team size.
void sweep_rows(Sweep& s, std::int64_t c0, std::int64_t c1, bool parallel) {
#pragma omp parallel if (parallel && thread_team_usable())
    {
        std::vector<const double*> block(static_cast<std::size_t>(s.m));
        for (std::int64_t r0 = c0; r0 < c1; r0 += kRowBlock) {
            const std::int64_t r1 = std::min(c1, r0 + kRowBlock);
            gather_rows(s, r0, r1, block.data());
            advance_tiles(s, block.data(), r1 - r0);
            // The next block may not be gathered while a tile still reads this one.
            if (!s.strided.empty()) {
#pragma omp barrier
            }
        }
    }
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
    Sweep s = plan_sweep(columns, row_steps, m, work, path);
    std::fill(work, work + s.grid_columns * s.grid_columns * kLanes, 0.0);
    const std::int64_t per_row = std::max<std::int64_t>(1, s.products_per_row());
    const bool parallel =
        static_cast<double>(n) * static_cast<double>(per_row) >= kParallelProducts;
    // The rows go through in chunks of whole row blocks, about kProductsPerCheck
    // products each, with a cancellation check between chunks on the calling thread.
    const std::int64_t chunk =
        kRowBlock * std::max<std::int64_t>(1, kProductsPerCheck / (kRowBlock * per_row));
    for (std::int64_t c0 = 0; c0 < n; c0 += chunk) {
        cancel.check();
        sweep_rows(s, c0, std::min(n, c0 + chunk), parallel);
    }
    reduce_lanes(work, m, s.grid_columns, out);
}

}  // namespace vexa
