// The dispatched kernels: every instruction set this CPU supports gives the
// same bits as the baseline, and the baseline follows the documented order.

#include "common/thread_team.hpp"
#include "fit/penalized_fit.hpp"
#include "kernels/cross_products.hpp"
#include "kernels/householder_columns.hpp"
#include "kernels/penalty_forms.hpp"
#include "kernels/simd_path.hpp"
#include "kernels/success_count.hpp"
#include "mcmc/tournament_mcmc.hpp"
#include "stats/description_length.hpp"

#include "random_matrix.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using vexa::SimdPath;

std::vector<SimdPath> supported_paths() {
    std::vector<SimdPath> paths;
    for (SimdPath path : {SimdPath::baseline, SimdPath::avx2, SimdPath::avx512})
        if (vexa::simd_path_supported(path)) paths.push_back(path);
    return paths;
}

// Every supported path, reading X in columns and in row panels.
std::vector<std::pair<SimdPath, bool>> paths_and_layouts() {
    std::vector<std::pair<SimdPath, bool>> cases;
    for (SimdPath path : supported_paths())
        for (bool packed : {false, true}) cases.emplace_back(path, packed);
    return cases;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// On x86-64 every build, GCC's or Clang's, compiles the three paths and runs each
// one the CPU offers: a build that quietly kept to the baseline fails here.
TEST(SimdPath, EveryPathTheCpuOffersIsUsed) {
    EXPECT_TRUE(vexa::simd_path_supported(SimdPath::baseline));
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    const bool avx512 = __builtin_cpu_supports("avx512f") != 0;
    EXPECT_EQ(vexa::simd_path_supported(SimdPath::avx2), avx2);
    EXPECT_EQ(vexa::simd_path_supported(SimdPath::avx512), avx512);
    EXPECT_EQ(vexa::widest_simd_path(), avx512 ? SimdPath::avx512
                                        : avx2 ? SimdPath::avx2
                                               : SimdPath::baseline);
#endif
    RecordProperty("widest_path", vexa::simd_path_name(vexa::widest_simd_path()));
}

// Every kernel refuses a path this CPU lacks, before it writes anything, with
// the message that names the path.
using KernelCall = void (*)(SimdPath);

class UnsupportedPath : public ::testing::TestWithParam<KernelCall> {};

TEST_P(UnsupportedPath, IsRefusedByName) {
    int refused = 0;
    for (SimdPath path : {SimdPath::avx2, SimdPath::avx512}) {
        if (vexa::simd_path_supported(path)) continue;
        ++refused;
        try {
            GetParam()(path);
            ADD_FAILURE() << vexa::simd_path_name(path) << " was not refused";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), std::string("this CPU does not support the ") +
                                                 vexa::simd_path_name(path) + " path");
        }
    }
    if (refused == 0) GTEST_SKIP() << "this CPU supports every path";
}

INSTANTIATE_TEST_SUITE_P(Kernels, UnsupportedPath,
                         ::testing::Values(
                             [](SimdPath path) {
                                 const double x[8] = {}, b[1] = {};
                                 const double* betas[1] = {b};
                                 std::int64_t hits[1] = {-1};
                                 vexa::count_successes(x, 8, 1, x, 1.0, betas, 1, hits, path);
                                 EXPECT_EQ(hits[0], -1);
                             },
                             [](SimdPath path) {
                                 const double x[8] = {};
                                 const double* columns[1] = {x};
                                 double out = -1.0;
                                 vexa::cross_products(columns, nullptr, 1, 8, &out, path);
                                 EXPECT_EQ(out, -1.0);
                             },
                             [](SimdPath path) { vexa::householder_columns(path); }));

TEST(SuccessCount, GroupSizeOutsideOneToEightIsRefused) {
    const double x[8] = {};
    const double* betas[vexa::kMaxLockstep + 1] = {};
    std::int64_t hits[vexa::kMaxLockstep + 1] = {};
    for (int group : {0, -1, vexa::kMaxLockstep + 1})
        EXPECT_THROW(vexa::count_successes(x, 8, 1, x, 1.0, betas, group, hits, SimdPath::baseline),
                     std::invalid_argument)
            << group;
}

// The prediction of row i in the documented order: column by column, each
// product rounded and then added.
double row_prediction(const Eigen::MatrixXd& X, Eigen::Index i, const Eigen::VectorXd& beta) {
    if (X.cols() == 0) return 0.0;
    double sum = X(i, 0) * beta[0];
    for (Eigen::Index j = 1; j < X.cols(); ++j) sum = sum + X(i, j) * beta[j];
    return sum;
}

struct CountCase {
    Eigen::Index n, p;
    int group;
};

class SuccessCount : public ::testing::TestWithParam<CountCase> {};

// With y set to the documented predictions of the first vector and eps the
// smallest positive double, a row counts only when its prediction is exact to
// the bit, so every path must count all n rows. The other vectors are counted
// against a wide tolerance and must agree with a plain scalar count.
TEST_P(SuccessCount, EveryPathReproducesTheColumnOrder) {
    const CountCase c = GetParam();
    std::mt19937_64 gen(static_cast<std::uint64_t>(c.n * 131 + c.p * 7 + c.group));
    const Eigen::MatrixXd X = random_matrix(c.n, c.p, gen);
    std::vector<Eigen::VectorXd> betas;
    std::vector<const double*> pointers;
    for (int g = 0; g < c.group; ++g) betas.push_back(random_matrix(c.p, 1, gen));
    for (const Eigen::VectorXd& b : betas) pointers.push_back(b.data());
    Eigen::VectorXd exact(c.n);
    for (Eigen::Index i = 0; i < c.n; ++i) exact[i] = row_prediction(X, i, betas[0]);
    const Eigen::VectorXd noisy = exact + 0.5 * random_matrix(c.n, 1, gen);
    // The whole row blocks packed in panels, the rest read from X.
    std::vector<double> panels(static_cast<std::size_t>(vexa::row_panel_size(c.n, c.p)));
    vexa::pack_row_panels(X.data(), c.n, c.p, 0, c.n / 8, panels.data());

    for (const auto& [path, packed] : paths_and_layouts()) {
        SCOPED_TRACE(std::string(vexa::simd_path_name(path)) + (packed ? " panels" : " columns"));
        const double* layout = packed ? panels.data() : nullptr;
        std::int64_t hits[vexa::kMaxLockstep];
        vexa::count_successes(X.data(), c.n, c.p, exact.data(),
                              std::numeric_limits<double>::denorm_min(), pointers.data(), c.group,
                              hits, path, layout);
        EXPECT_EQ(hits[0], c.n);

        const double eps = 0.7;
        vexa::count_successes(X.data(), c.n, c.p, noisy.data(), eps, pointers.data(), c.group, hits,
                              path, layout);
        for (int g = 0; g < c.group; ++g) {
            std::int64_t expected = 0;
            for (Eigen::Index i = 0; i < c.n; ++i)
                expected +=
                    eps > std::abs(row_prediction(X, i, betas[static_cast<std::size_t>(g)]) -
                                   noisy[i])
                        ? 1
                        : 0;
            EXPECT_EQ(hits[g], expected) << "vector " << g;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, SuccessCount,
                         ::testing::Values(CountCase{0, 3, 1}, CountCase{1, 1, 1},
                                           CountCase{7, 3, 2}, CountCase{8, 8, 1},
                                           CountCase{9, 0, 3}, CountCase{500, 8, 5},
                                           CountCase{1003, 13, 8}, CountCase{64, 200, 7}),
                         [](const ::testing::TestParamInfo<CountCase>& shape) {
                             return "n" + std::to_string(shape.param.n) + "_p" +
                                    std::to_string(shape.param.p) + "_g" +
                                    std::to_string(shape.param.group);
                         });

TEST(SuccessCount, NaNAndBoundaryDifferencesAreNoSuccess) {
    const Eigen::MatrixXd X = Eigen::MatrixXd::Ones(11, 1);
    Eigen::VectorXd y = Eigen::VectorXd::Constant(11, 1.0);
    y[2] = std::nan("");
    y[9] = 2.0;   // difference exactly eps
    y[10] = 1.5;  // within eps
    const Eigen::VectorXd beta = Eigen::VectorXd::Ones(1);
    const double* b = beta.data();
    for (SimdPath path : supported_paths()) {
        std::int64_t hits = 0;
        vexa::count_successes(X.data(), 11, 1, y.data(), 1.0, &b, 1, &hits, path);
        EXPECT_EQ(hits, 9) << vexa::simd_path_name(path);
    }
}

class GroupPenaltyForms : public ::testing::TestWithParam<Eigen::Index> {};

// Every lane's form has the bits of the lone form through Eigen's products, on
// every path: p crosses the dot product's packet pairs and, at 130, the column
// blocks of Eigen's matrix-vector product.
TEST_P(GroupPenaltyForms, EveryLaneHasTheBitsOfTheLoneForm) {
    const Eigen::Index p = GetParam();
    std::mt19937_64 gen(static_cast<std::uint64_t>(p) + 11u);
    const Eigen::MatrixXd R = random_matrix(p, p, gen);
    const Eigen::MatrixXd betas = random_matrix(p, 8, gen);
    std::vector<double> lanes(static_cast<std::size_t>(p) * 8);
    for (Eigen::Index j = 0; j < p; ++j)
        for (Eigen::Index g = 0; g < 8; ++g)
            lanes[static_cast<std::size_t>(j * 8 + g)] = betas(j, g);
    for (SimdPath path : supported_paths()) {
        for (int group = 1; group <= 8; ++group) {
            double forms[8];
            vexa::penalty_forms(R.data(), p, lanes.data(), group, forms, path);
            for (int g = 0; g < group; ++g)
                EXPECT_TRUE(same_bits(forms[g], vexa::quad_penalty(betas.col(g), R)))
                    << vexa::simd_path_name(path) << " group " << group << " lane " << g;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, GroupPenaltyForms,
                         ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 8, 13, 130));

// The documented lane rule for one inner product.
double lane_rule(const double* a, const double* b, Eigen::Index n) {
    double lane[8] = {};
    for (Eigen::Index i = 0; i < n; ++i) lane[i % 8] = lane[i % 8] + a[i] * b[i];
    return ((lane[0] + lane[4]) + (lane[2] + lane[6])) +
           ((lane[1] + lane[5]) + (lane[3] + lane[7]));
}

class CrossProducts : public ::testing::TestWithParam<std::tuple<Eigen::Index, Eigen::Index>> {};

// Row counts cross the lane width and the row blocking; column counts are not
// multiples of any tile size.
TEST_P(CrossProducts, EveryPathFollowsTheLaneRule) {
    const auto [n, m] = GetParam();
    std::mt19937_64 gen(static_cast<std::uint64_t>(n * 17 + m));
    const Eigen::MatrixXd C = random_matrix(n, m, gen);
    std::vector<const double*> columns;
    for (Eigen::Index j = 0; j < m; ++j) columns.push_back(C.col(j).data());
    for (SimdPath path : supported_paths()) {
        SCOPED_TRACE(vexa::simd_path_name(path));
        Eigen::MatrixXd out = Eigen::MatrixXd::Constant(m, m, -7.0);
        vexa::cross_products(columns.data(), nullptr, m, n, out.data(), path);
        for (Eigen::Index k = 0; k < m; ++k)
            for (Eigen::Index j = 0; j < m; ++j) {
                const double expected = j >= k ? lane_rule(columns[static_cast<std::size_t>(j)],
                                                           columns[static_cast<std::size_t>(k)], n)
                                               : -7.0;
                ASSERT_TRUE(same_bits(out(j, k), expected)) << "entry " << j << ", " << k;
            }
    }
}

// A row-major copy, and every other column strided, gives the bits of the
// contiguous columns: only where the entries are read from changes.
TEST_P(CrossProducts, StridedColumnsGiveTheSameBits) {
    const auto [n, m] = GetParam();
    std::mt19937_64 gen(static_cast<std::uint64_t>(n * 13 + m));
    const Eigen::MatrixXd C = random_matrix(n, m, gen);
    const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> R = C;
    std::vector<const double*> contiguous, mixed;
    std::vector<std::int64_t> steps;
    for (Eigen::Index j = 0; j < m; ++j) {
        contiguous.push_back(C.col(j).data());
        mixed.push_back(j % 2 == 0 ? R.data() + j : C.col(j).data());
        steps.push_back(j % 2 == 0 ? m : 1);
    }
    for (SimdPath path : supported_paths()) {
        SCOPED_TRACE(vexa::simd_path_name(path));
        Eigen::MatrixXd expected = Eigen::MatrixXd::Zero(m, m);
        Eigen::MatrixXd out = Eigen::MatrixXd::Zero(m, m);
        vexa::cross_products(contiguous.data(), nullptr, m, n, expected.data(), path);
        vexa::cross_products(mixed.data(), steps.data(), m, n, out.data(), path);
        for (Eigen::Index k = 0; k < m; ++k)
            for (Eigen::Index j = k; j < m; ++j)
                ASSERT_TRUE(same_bits(out(j, k), expected(j, k))) << "entry " << j << ", " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, CrossProducts,
                         ::testing::Combine(::testing::Values(0, 3, 8, 517, 1500),
                                            ::testing::Values(1, 2, 5, 41)));

// Large enough for the tiles to be spread over the team, and for a row-major
// matrix to be gathered in several chunks: every team size gives the lane
// rule's bits.
TEST(CrossProducts, SameBitsForEveryTeamSize) {
    const Eigen::Index n = 30000;
    const Eigen::Index m = 41;
    std::mt19937_64 gen(11);
    const Eigen::MatrixXd C = random_matrix(n, m, gen);
    const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> R = C;
    std::vector<const double*> columns, rows;
    for (Eigen::Index j = 0; j < m; ++j) {
        columns.push_back(C.col(j).data());
        rows.push_back(R.data() + j);
    }
    const std::vector<std::int64_t> row_steps(static_cast<std::size_t>(m), m);
    const int saved = omp_get_max_threads();
    const double threshold = vexa::set_team_threshold(0);
    const bool follows = vexa::set_team_follows_load(false);
    for (int threads : {1, 2, 3})
        for (bool row_major : {false, true}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + (row_major ? " row-major" : ""));
            omp_set_num_threads(threads);
            Eigen::MatrixXd out = Eigen::MatrixXd::Zero(m, m);
            vexa::cross_products(row_major ? rows.data() : columns.data(),
                                 row_major ? row_steps.data() : nullptr, m, n, out.data(),
                                 vexa::widest_simd_path());
            for (Eigen::Index k = 0; k < m; ++k)
                for (Eigen::Index j = k; j < m; ++j)
                    ASSERT_TRUE(
                        same_bits(out(j, k), lane_rule(columns[static_cast<std::size_t>(j)],
                                                       columns[static_cast<std::size_t>(k)], n)))
                        << "entry " << j << ", " << k;
        }
    omp_set_num_threads(saved);
    vexa::set_team_threshold(threshold);
    vexa::set_team_follows_load(follows);
}

// Whole operations: the penalized fit and the sampler give the same bits on
// every path (and, for the sampler, every team size), also when X is large
// enough for the chains to move in lockstep groups.
TEST(SamePathBits, PenalizedFit) {
    std::mt19937_64 gen(3);
    const Eigen::MatrixXd Phi = random_matrix(2001, 12, gen);
    const Eigen::VectorXd y = random_matrix(2001, 1, gen);
    const Eigen::MatrixXd R = Eigen::MatrixXd::Identity(12, 12);
    const vexa::PenaltyTerms terms{&R, nullptr, 1e-3, 0.0};
    const Eigen::VectorXd reference = vexa::fit_regularized_linear(
        Phi, y, terms, 1e-10, vexa::Cancellation(), SimdPath::baseline);
    for (SimdPath path : supported_paths()) {
        const Eigen::VectorXd beta =
            vexa::fit_regularized_linear(Phi, y, terms, 1e-10, vexa::Cancellation(), path);
        for (Eigen::Index i = 0; i < beta.size(); ++i)
            EXPECT_TRUE(same_bits(beta[i], reference[i])) << vexa::simd_path_name(path);
    }
}

class SamePathFits : public ::testing::TestWithParam<Eigen::Index> {};

TEST_P(SamePathFits, TournamentFit) {
    const Eigen::Index n = GetParam();
    const Eigen::Index p = 10;
    std::mt19937_64 gen(5);
    const Eigen::MatrixXd X = random_matrix(n, p, gen);
    const Eigen::VectorXd y =
        X * Eigen::VectorXd::LinSpaced(p, -1.0, 1.0) + 0.3 * random_matrix(n, 1, gen);
    const Eigen::MatrixXd R = Eigen::MatrixXd::Identity(p, p);
    const vexa::PenaltyTerms terms{&R, &R, 1e-3, 1e-4};
    const vexa::TournamentMCMC settings{7, 12, 30, 3, 0.05, 20, 9u};
    const int saved = omp_get_max_threads();
    const double threshold = vexa::set_team_threshold(0);
    const bool follows = vexa::set_team_follows_load(false);
    omp_set_num_threads(1);
    const vexa::MCMCResult reference =
        settings.fit(X, y, terms, vexa::Cancellation(), SimdPath::baseline);
    for (SimdPath path : supported_paths())
        for (int threads : {1, 2, 3}) {
            SCOPED_TRACE(std::string(vexa::simd_path_name(path)) + " threads " +
                         std::to_string(threads));
            omp_set_num_threads(threads);
            const vexa::MCMCResult r = settings.fit(X, y, terms, vexa::Cancellation(), path);
            EXPECT_TRUE(same_bits(r.energy, reference.energy));
            for (Eigen::Index i = 0; i < p; ++i)
                EXPECT_TRUE(same_bits(r.beta_mcmc[i], reference.beta_mcmc[i]));
        }
    omp_set_num_threads(saved);
    vexa::set_team_threshold(threshold);
    vexa::set_team_follows_load(follows);
}

// 500 x 10 doubles stay in cache (groups of up to 4); 9000 x 10 do not (up to 8).
INSTANTIATE_TEST_SUITE_P(Rows, SamePathFits, ::testing::Values(500, 9000));

}  // namespace
