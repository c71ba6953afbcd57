#include "stats/description_length.hpp"
#include "stats/robust_stats.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

Eigen::VectorXd vec(std::initializer_list<double> values) {
    Eigen::VectorXd v(static_cast<Eigen::Index>(values.size()));
    Eigen::Index i = 0;
    for (double x : values) v[i++] = x;
    return v;
}

TEST(Median, EmptyOddEven) {
    EXPECT_EQ(vexa::median(Eigen::VectorXd()), 0.0);
    EXPECT_EQ(vexa::median(vec({7.5})), 7.5);
    EXPECT_EQ(vexa::median(vec({3, 1, 2})), 2.0);
    EXPECT_EQ(vexa::median(vec({4, 1, 3, 2})), 2.5);
    EXPECT_EQ(vexa::median(vec({-1, -1, 5, 5})), 2.0);
}

TEST(Median, EvenUsesBothMiddleValuesForManyOrders) {
    // Every permutation of a small even sequence gives the same median.
    Eigen::VectorXd v = vec({5, 1, 4, 2, 6, 3});
    std::sort(v.data(), v.data() + v.size());
    do {
        EXPECT_EQ(vexa::median(v), 3.5);
    } while (std::next_permutation(v.data(), v.data() + v.size()));
}

TEST(Mad, RawAndUnchangedInput) {
    const Eigen::VectorXd y = vec({1, 2, 3, 4, 100});
    const Eigen::VectorXd before = y;
    EXPECT_EQ(vexa::mad(y), 1.0);
    EXPECT_EQ(y, before);
}

TEST(SrEps, FromSpreadOrDefault) {
    EXPECT_EQ(vexa::sr_eps(vec({0, 1, 2, 3})), 0.4);
    EXPECT_EQ(vexa::sr_eps(vec({0, 2, 4, 6})), 0.4 * 2.0);
    EXPECT_EQ(vexa::sr_eps(vec({5, 5, 5})), 0.4);
    EXPECT_EQ(vexa::sr_eps(Eigen::VectorXd()), 0.4);
}

TEST(QuadPenalty, FormAndEmpty) {
    Eigen::MatrixXd R(2, 2);
    R << 2, 1, 1, 3;
    EXPECT_EQ(vexa::quad_penalty(vec({1, 2}), R), 2 + 2 + 2 + 12);
    EXPECT_EQ(vexa::quad_penalty(Eigen::VectorXd(), Eigen::MatrixXd(0, 0)), 0.0);
}

TEST(MdlScoreCore, PenaltyAbsentOrZeroWeightIsNotRead) {
    const Eigen::VectorXd y = vec({0, 1, 2, 3});
    const Eigen::VectorXd beta = vec({1, 2});
    const Eigen::MatrixXd nan_matrix =
        Eigen::MatrixXd::Constant(2, 2, std::numeric_limits<double>::quiet_NaN());
    const double base = vexa::mdl_score_core(y, y, 2, 20, 0.4, nullptr, nullptr);
    const vexa::PenaltyTerms zero_weights{&nan_matrix, &nan_matrix, 0.0, 0.0};
    EXPECT_EQ(vexa::mdl_score_core(y, y, 2, 20, 0.4, &beta, &zero_weights), base);
    const vexa::PenaltyTerms absent{nullptr, nullptr, 1.0, 1.0};
    EXPECT_EQ(vexa::mdl_score_core(y, y, 2, 20, 0.4, &beta, &absent), base);
    const Eigen::MatrixXd eye = Eigen::MatrixXd::Identity(2, 2);
    const vexa::PenaltyTerms both{&eye, &eye, 0.5, 2.0};
    EXPECT_EQ(vexa::mdl_score_core(y, y, 2, 20, 0.4, &beta, &both), base + 2.5 + 10.0);
}

}  // namespace
