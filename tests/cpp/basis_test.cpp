#include "basis/design_matrix_1d.hpp"
#include "basis/monomials.hpp"
#include "basis/penalties_nd.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
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

TEST(PenaltyForms, ManyDimensionsNeedNoGrid) {
    // 2^64 grid points could not even be counted; the factorised form never forms them.
    const std::vector<int> degrees(64, 0);
    const vexa::Bounds bounds(64, {0.0, 1.0});
    EXPECT_EQ(std::get<0>(vexa::build_penalty_matrices_nd(degrees, bounds, 2)),
              Eigen::MatrixXd::Zero(1, 1));
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
