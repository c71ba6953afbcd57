#include "basis/design_matrix_1d.hpp"
#include "basis/monomials.hpp"
#include "basis/multi_indices.hpp"
#include "basis/penalties_nd.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Eigen::VectorXd vec(std::initializer_list<double> values) {
    Eigen::VectorXd v(static_cast<Eigen::Index>(values.size()));
    Eigen::Index i = 0;
    for (double x : values) v[i++] = x;
    return v;
}

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
        if (std::isnan(e))
            EXPECT_TRUE(std::isnan(row[k])) << "k = " << k;
        else
            EXPECT_EQ(row[k], e) << "k = " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MonomialRowValues,
    ::testing::Values(RowCase{3, 0.0, 0, {1, 0, 0, 0}}, RowCase{3, 0.0, 1, {0, 1, 0, 0}},
                      RowCase{3, 0.0, 2, {0, 0, 2, 0}}, RowCase{4, 2.0, 1, {0, 1, 4, 12, 32}},
                      RowCase{4, 2.0, 2, {0, 0, 2, 12, 48}},
                      // pow(x, 0) is 1 and the low derivative entries are constants,
                      // whatever x is.
                      RowCase{3, kNaN, 0, {1, kNaN, kNaN, kNaN}},
                      RowCase{3, kNaN, 1, {0, 1, kNaN, kNaN}},
                      RowCase{3, kNaN, 2, {0, 0, 2, kNaN}},
                      RowCase{3, -kInf, 0, {1, -kInf, kInf, -kInf}},
                      RowCase{-1, 5.0, 0, {}}));

TEST(MonomialRow, GoesThroughPowNotRunningProducts) {
    // Find points where pow(x, 3) and x*x*x differ in the last bit: the row must
    // give the pow value, the design matrix the running product.
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> u(0.5, 3.0);
    int differing = 0;
    for (int t = 0; t < 2000 && differing < 5; ++t) {
        const double x = u(gen);
        const double running = x * x * x;
        if (std::pow(x, 3.0) == running) continue;
        ++differing;
        EXPECT_EQ(vexa::monomial_row(3, x, 0)[3], std::pow(x, 3.0));
        EXPECT_EQ(vexa::monomial_row(4, x, 1)[4], 4.0 * std::pow(x, 3.0));
        EXPECT_EQ(vexa::monomial_row(5, x, 2)[5], 20.0 * std::pow(x, 3.0));
        EXPECT_EQ(vexa::design_matrix_1d(3, vec({x}))(0, 3), running);
    }
    EXPECT_GT(differing, 0);
    const double x = 1.0000001;
    EXPECT_EQ(vexa::monomial_power(x, 2), x * x);
    EXPECT_EQ(vexa::monomial_row(2, x, 0)[2], x * x);
}

TEST(MonomialRow, CurvatureFactorDoesNotOverflowInt) {
    // 46342 * 46341 is past INT_MAX; the factor must still be exact.
    const int k = 46342;
    const Eigen::VectorXd row = vexa::monomial_row(k, 1.0, 2);
    EXPECT_EQ(row[k], 46342.0 * 46341.0);
    EXPECT_GT(row[k], 0.0);
}

TEST(MonomialRow, RejectsBadArguments) {
    EXPECT_THROW(vexa::monomial_row(-2, 1.0, 0), std::invalid_argument);
    EXPECT_THROW(vexa::monomial_row(3, 1.0, 3), std::invalid_argument);
    EXPECT_THROW(vexa::monomial_row(3, 1.0, -1), std::invalid_argument);
    Eigen::VectorXd wrong(3);
    EXPECT_THROW(vexa::monomial_row_into(3, 1.0, 0, wrong), std::invalid_argument);
}

TEST(DesignMatrix1d, RunningProductColumnByColumn) {
    const Eigen::VectorXd x = vec({0.3, -1.7, 2.9, 1e-3, kNaN, -kInf});
    const Eigen::MatrixXd Phi = vexa::design_matrix_1d(9, x);
    for (Eigen::Index r = 0; r < x.size(); ++r) {
        double v = 1.0;
        EXPECT_EQ(Phi(r, 0), 1.0);
        for (Eigen::Index k = 1; k <= 9; ++k) {
            v = x[r] * v;
            if (std::isnan(v))
                EXPECT_TRUE(std::isnan(Phi(r, k)));
            else
                EXPECT_EQ(Phi(r, k), v) << r << ", " << k;
        }
    }
}

TEST(MultiIndices, LexicographicDimensionZeroSlowest) {
    const vexa::MultiIndexList M = vexa::enumerate_multi_indices({1, 2});
    const vexa::MultiIndexList expected = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}};
    EXPECT_EQ(M, expected);
    EXPECT_EQ(vexa::enumerate_multi_indices({}), vexa::MultiIndexList{{}});
    EXPECT_EQ(vexa::enumerate_multi_indices({0}), vexa::MultiIndexList{{0}});
    const vexa::MultiIndexList big = vexa::enumerate_multi_indices({2, 0, 3, 1});
    ASSERT_EQ(big.size(), 24u);
    for (std::size_t i = 1; i < big.size(); ++i) EXPECT_LT(big[i - 1], big[i]);
}

TEST(MultiIndices, SizeChecks) {
    EXPECT_EQ(vexa::tensor_basis_size({}), 1);
    EXPECT_EQ(vexa::tensor_basis_size({2, 0, 3}), 12);
    EXPECT_THROW(vexa::tensor_basis_size({1, -1}), std::invalid_argument);
    EXPECT_THROW(vexa::tensor_basis_size(std::vector<int>(3, INT_MAX)), std::bad_alloc);
    EXPECT_THROW(vexa::enumerate_multi_indices({INT_MAX, INT_MAX}), std::bad_alloc);
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
    EXPECT_EQ(M, vexa::enumerate_multi_indices(c.degrees));
    ASSERT_EQ(R1.rows(), G1.rows());
    ASSERT_EQ(R2.rows(), G2.rows());
    const double s1 = G1.cwiseAbs().maxCoeff(), s2 = G2.cwiseAbs().maxCoeff();
    EXPECT_LE((R1 - G1).cwiseAbs().maxCoeff(), 1e-12 * s1);
    EXPECT_LE((R2 - G2).cwiseAbs().maxCoeff(), 1e-12 * s2);
    // Both exactly symmetric.
    EXPECT_EQ(R1, R1.transpose());
    EXPECT_EQ(R2, R2.transpose());
    EXPECT_EQ(G1, G1.transpose());
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
    const vexa::Bounds unit = {{0, 1}, {0, 1}};
    const auto fast = vexa::build_penalty_matrices_nd({1, 1}, unit, 2);
    const auto grid = vexa::build_penalty_matrices_nd_grid({1, 1}, unit, 2);
    EXPECT_EQ(std::get<0>(fast), R1);
    EXPECT_EQ(std::get<1>(fast), R2);
    EXPECT_EQ(std::get<0>(grid), R1);
    EXPECT_EQ(std::get<1>(grid), R2);
}

TEST(PenaltyForms, GridTooLargeOnlyForTheGridSum) {
    // 2^64 grid points cannot be counted, let alone held; the factorised form
    // never needs the count.
    const std::vector<int> degrees(64, 0);
    const vexa::Bounds bounds(64, {0.0, 1.0});
    EXPECT_THROW(vexa::build_penalty_matrices_nd_grid(degrees, bounds, 2), std::bad_alloc);
    const auto [R1, R2, M] = vexa::build_penalty_matrices_nd(degrees, bounds, 2);
    EXPECT_EQ(R1, Eigen::MatrixXd::Zero(1, 1));
    EXPECT_EQ(R2, Eigen::MatrixXd::Zero(1, 1));
    ASSERT_EQ(M.size(), 1u);
    EXPECT_EQ(M[0], std::vector<int>(64, 0));
    // 10^4 points per dimension in three dimensions: 10^12 rows of B.
    EXPECT_THROW(vexa::build_penalty_matrices_nd_grid({1, 1, 1}, {{0, 1}, {0, 1}, {0, 1}}, 10000),
                 std::bad_alloc);
}

TEST(PenaltyForms, ChecksInOrderForBothForms) {
    using Fn = vexa::PenaltiesND (*)(const std::vector<int>&, const vexa::Bounds&, int);
    for (Fn build : {&vexa::build_penalty_matrices_nd, &vexa::build_penalty_matrices_nd_grid}) {
        auto message = [&](const std::vector<int>& degrees, const vexa::Bounds& bounds, int G) {
            try {
                build(degrees, bounds, G);
            } catch (const std::invalid_argument& e) {
                return std::string(e.what());
            } catch (const std::bad_alloc&) {
                return std::string("bad_alloc");
            }
            return std::string("none");
        };
        EXPECT_EQ(message({-1, 2}, {{0, 1}}, 1), "Dimension mismatch.");
        EXPECT_EQ(message({1, -2}, {{0, 1}, {0, 1}}, 1), "degrees[1] is -2 but must be at least 0");
        EXPECT_EQ(message({INT_MAX, INT_MAX, INT_MAX}, {{0, 1}, {0, 1}, {0, 1}}, 1),
                  "n_grid_per_dim is 1 but must be at least 2");
        EXPECT_EQ(message({INT_MAX, INT_MAX, INT_MAX}, {{0, 1}, {0, 1}, {0, 1}}, 2), "bad_alloc");
        EXPECT_EQ(message({3000000}, {{0, 1}}, 2), "bad_alloc");
        EXPECT_EQ(message({1}, {{0, 1}}, 2), "none");
    }
}

}  // namespace
