#include "common/penalty_terms.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The names of the penalties for_each_used visits, in order.
std::vector<std::string> visited(const vexa::PenaltyTerms& terms) {
    std::vector<std::string> names;
    terms.for_each_used(
        [&](const Eigen::MatrixXd&, double, const char* name) { names.emplace_back(name); });
    return names;
}

TEST(PenaltyTerms, ReadOnlyWhenPresentWithANonZeroWeight) {
    const Eigen::MatrixXd R = Eigen::MatrixXd::Identity(2, 2);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    using Names = std::vector<std::string>;
    EXPECT_EQ(visited({&R, &R, 0.5, -1.0}), (Names{"R1", "R2"}));
    EXPECT_EQ(visited({&R, &R, 0.0, 2.0}), (Names{"R2"}));
    EXPECT_EQ(visited({&R, &R, -0.0, 0.0}), Names{});
    EXPECT_EQ(visited({nullptr, &R, 1.0, nan}), (Names{"R2"}));  // NaN is not zero
    EXPECT_EQ(visited({&R, nullptr, nan, 1.0}), (Names{"R1"}));
    EXPECT_EQ(visited({}), Names{});
}

TEST(PenaltyTerms, ShapesAreCheckedOnlyForPenaltiesThatAreRead) {
    const Eigen::MatrixXd square = Eigen::MatrixXd::Zero(3, 3);
    const Eigen::MatrixXd wrong = Eigen::MatrixXd::Zero(2, 3);
    EXPECT_NO_THROW(vexa::check_penalty_shapes({&wrong, &square, 0.0, 1.0}, 3, "X"));
    try {
        vexa::check_penalty_shapes({&square, &wrong, 1.0, 1.0}, 3, "X");
        FAIL() << "a 2 x 3 R2 with weight 1 must be refused";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "R2 is 2 x 3 but must be 3 x 3 (X gives p = 3)");
    }
}

}  // namespace
