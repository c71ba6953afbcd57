#include "basis/design_matrix_1d.hpp"
#include "basis/monomials.hpp"
#include "basis/penalties_nd.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <cmath>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct RowCase {
    int deg;
    double x;
    int order;
    std::vector<double> expected;
};

class MonomialRowValues : public ::testing::TestWithParam<RowCase> {};

TEST_P(MonomialRowValues, MatchTable) {
    const RowCase& c = GetParam();
    const Eigen::VectorXd row = vexa::monomial_row(c.deg, c.x, c.order);
    ASSERT_EQ(row.size(), static_cast<Eigen::Index>(c.expected.size()));
    for (Eigen::Index k = 0; k < row.size(); ++k) {
        const double e = c.expected[static_cast<std::size_t>(k)];
        EXPECT_TRUE(std::isnan(e) ? std::isnan(row[k]) : row[k] == e) << "k = " << k;
    }
}

// pow(x, 0) is 1 and the low derivative entries are constants, whatever x is.
INSTANTIATE_TEST_SUITE_P(
    Table, MonomialRowValues,
    ::testing::Values(RowCase{3, 0.0, 0, {1, 0, 0, 0}}, RowCase{3, 0.0, 1, {0, 1, 0, 0}},
                      RowCase{3, 0.0, 2, {0, 0, 2, 0}}, RowCase{4, 2.0, 1, {0, 1, 4, 12, 32}},
                      RowCase{4, 2.0, 2, {0, 0, 2, 12, 48}},
                      RowCase{3, kNaN, 0, {1, kNaN, kNaN, kNaN}},
                      RowCase{3, kNaN, 1, {0, 1, kNaN, kNaN}}, RowCase{3, kNaN, 2, {0, 0, 2, kNaN}},
                      RowCase{3, -kInf, 0, {1, -kInf, kInf, -kInf}}, RowCase{-1, 5.0, 0, {}}));

TEST(MonomialRow, GoesThroughPowNotRunningProducts) {
    // Where pow(x, 3) and x*x*x differ in the last bit, rows give pow and the
    // design matrix the running product.
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> u(0.5, 3.0);
    int differing = 0;
    for (int t = 0; t < 2000 && differing < 5; ++t) {
        const double x = u(gen);
        if (std::pow(x, 3.0) == x * x * x) continue;
        ++differing;
        EXPECT_EQ(vexa::monomial_row(3, x, 0)[3], std::pow(x, 3.0));
        EXPECT_EQ(vexa::monomial_row(5, x, 2)[5], 20.0 * std::pow(x, 3.0));
        EXPECT_EQ(vexa::design_matrix_1d(3, Eigen::VectorXd::Constant(1, x))(0, 3), x * x * x);
    }
    EXPECT_GT(differing, 0);
}

TEST(MonomialRow, CurvatureFactorDoesNotOverflowInt) {
    // 46342 * 46341 is past INT_MAX; the factor must still be exact and positive.
    EXPECT_EQ(vexa::monomial_row(46342, 1.0, 2)[46342], 46342.0 * 46341.0);
}

struct NdCase {
    const char* name;
    std::vector<int> degrees;
    vexa::Bounds bounds;
    int G;
};

class PenaltyForms : public ::testing::TestWithParam<NdCase> {};

// The factorised form must reproduce the brute-force grid sum.
TEST_P(PenaltyForms, FactorisedEqualsGridSum) {
    const NdCase& c = GetParam();
    const auto [R1, R2, M] = vexa::build_penalty_matrices_nd(c.degrees, c.bounds, c.G);
    const auto [G1, G2, GM] = vexa::build_penalty_matrices_nd_grid(c.degrees, c.bounds, c.G);
    EXPECT_EQ(M, GM);
    ASSERT_EQ(R1.rows(), G1.rows());
    ASSERT_EQ(R2.rows(), G2.rows());
    EXPECT_LE((R1 - G1).cwiseAbs().maxCoeff(), 1e-12 * G1.cwiseAbs().maxCoeff());
    EXPECT_LE((R2 - G2).cwiseAbs().maxCoeff(), 1e-12 * G2.cwiseAbs().maxCoeff());
    EXPECT_EQ(R1, R1.transpose());
    EXPECT_EQ(R2, R2.transpose());
    EXPECT_EQ(G2, G2.transpose());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PenaltyForms,
    ::testing::Values(NdCase{"none", {}, {}, 5}, NdCase{"const", {0}, {{0, 1}}, 3},
                      NdCase{"one_dim", {5}, {{-1.0, 2.0}}, 9},
                      NdCase{"two_dim", {2, 3}, {{0.0, 1.0}, {-2.0, 0.5}}, 5},
                      NdCase{"reversed", {3, 2}, {{1.0, -1.0}, {0.25, 2.0}}, 6},
                      NdCase{"flip_rule", {2, 2}, {{-3.0, 0.5}, {4.0, -0.1}}, 7},
                      NdCase{"three_dim", {2, 1, 3}, {{0.0, 1.0}, {1.0, -1.0}, {0.5, 2.0}}, 4},
                      NdCase{"with_zero", {0, 2, 0}, {{0.0, 3.0}, {-1.0, 1.0}, {2.0, 5.0}}, 3},
                      NdCase{"four_dim", {2, 0, 1, 2}, {{0, 1}, {0, 2}, {-1, 1}, {0.5, 1.5}}, 3},
                      NdCase{"wide", {1, 1}, {{-1e3, 1e3}, {1e-3, 2e-3}}, 4}),
    [](const ::testing::TestParamInfo<NdCase>& info) { return std::string(info.param.name); });

TEST(PenaltyForms, SmallIntegerExampleIsExactInBoth) {
    Eigen::MatrixXd R1(4, 4), R2 = Eigen::MatrixXd::Zero(4, 4);
    R1 << 0, 0, 0, 0, 0, 4, 0, 2, 0, 0, 4, 2, 0, 2, 2, 4;
    R2(3, 3) = 8;
    for (auto build : {&vexa::build_penalty_matrices_nd, &vexa::build_penalty_matrices_nd_grid}) {
        const auto result = build({1, 1}, {{0, 1}, {0, 1}}, 2, vexa::Cancellation());
        EXPECT_EQ(std::get<0>(result), R1);
        EXPECT_EQ(std::get<1>(result), R2);
    }
}

TEST(PenaltyForms, GridTooLargeOnlyForTheGridSum) {
    // 2^64 grid points cannot be counted, 10^12 rows of B cannot be held; the
    // factorised form needs neither.
    const std::vector<int> degrees(64, 0);
    const vexa::Bounds bounds(64, {0.0, 1.0});
    EXPECT_THROW(vexa::build_penalty_matrices_nd_grid(degrees, bounds, 2), std::bad_alloc);
    EXPECT_EQ(std::get<0>(vexa::build_penalty_matrices_nd(degrees, bounds, 2)),
              Eigen::MatrixXd::Zero(1, 1));
    EXPECT_THROW(vexa::build_penalty_matrices_nd_grid({1, 1, 1}, {{0, 1}, {0, 1}, {0, 1}}, 10000),
                 std::bad_alloc);
    EXPECT_THROW(vexa::build_penalty_matrices_nd_grid({INT_MAX}, {{0, 1}}, 2), std::bad_alloc);
}

}  // namespace

namespace {

TEST(DerivativeRows, EqualMonomialRowsBitForBit) {
    const double inf = std::numeric_limits<double>::infinity();
    for (int deg : {0, 1, 2, 3, 7, 12}) {
        for (double x : {0.0, -0.0, 1.0, -1.5, 0.3, 1e-200, 1e200, inf, -inf,
                         std::numeric_limits<double>::quiet_NaN()}) {
            Eigen::VectorXd d1(deg + 1), d2(deg + 1);
            vexa::derivative_rows_into(deg, x, d1, d2);
            const Eigen::VectorXd r1 = vexa::monomial_row(deg, x, 1);
            const Eigen::VectorXd r2 = vexa::monomial_row(deg, x, 2);
            for (int k = 0; k <= deg; ++k) {
                EXPECT_EQ(std::memcmp(&d1[k], &r1[k], sizeof(double)), 0) << deg << " " << x;
                EXPECT_EQ(std::memcmp(&d2[k], &r2[k], sizeof(double)), 0) << deg << " " << x;
            }
        }
    }
}

}  // namespace
