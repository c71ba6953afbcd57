#include "fit/ldlt_solve.hpp"

#include "random_matrix.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

// Bit-for-bit agreement with Eigen's own solve wherever no pivot is NaN: positive
// definite, indefinite, and semi-definite systems with exact zero pivots.
TEST(LdltSolve, ReproducesEigensSolveExactly) {
    std::mt19937_64 gen(7);
    for (Eigen::Index p : {1, 2, 3, 7, 16, 40}) {
        const Eigen::MatrixXd G = random_matrix(p + 5, p, gen);
        const Eigen::MatrixXd S = random_matrix(p, p, gen);
        // All-ones: one pivot 1, then exact zero pivots.
        const Eigen::MatrixXd systems[] = {G.transpose() * G, S + S.transpose(),
                                           Eigen::MatrixXd::Ones(p, p),
                                           Eigen::MatrixXd::Zero(p, p)};
        for (const Eigen::MatrixXd& A : systems) {
            const Eigen::LDLT<Eigen::MatrixXd> ldlt(A);
            const Eigen::VectorXd b = random_matrix(p, 1, gen);
            const Eigen::VectorXd ours = vexa::ldlt_solve(ldlt, b);
            const Eigen::VectorXd eigen = ldlt.solve(b);
            ASSERT_EQ(ours.size(), p);
            for (Eigen::Index i = 0; i < p; ++i) EXPECT_EQ(ours[i], eigen[i]) << "p=" << p;
        }
    }
}

TEST(LdltSolve, NanPivotGivesNanNotZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Eigen::LDLT<Eigen::MatrixXd> ldlt(Eigen::MatrixXd::Constant(1, 1, nan));
    const Eigen::VectorXd b = Eigen::VectorXd::Ones(1);
    EXPECT_EQ(ldlt.solve(b)[0], 0.0);  // the rule this solve does not follow
    EXPECT_TRUE(std::isnan(vexa::ldlt_solve(ldlt, b)[0]));
}

// A NaN pivot among finite ones: every component NaN, none half-meaningful.
TEST(LdltSolve, NanPivotMakesEveryComponentNan) {
    Eigen::MatrixXd A = Eigen::MatrixXd::Identity(3, 3);
    A(0, 0) = std::numeric_limits<double>::quiet_NaN();
    const Eigen::LDLT<Eigen::MatrixXd> ldlt(A);
    const Eigen::VectorXd x = vexa::ldlt_solve(ldlt, Eigen::VectorXd::Ones(3));
    ASSERT_EQ(x.size(), 3);
    EXPECT_TRUE(x.array().isNaN().all()) << x.transpose();
}

TEST(LdltSolve, SubnormalPivotGivesZero) {
    const double tiny = std::numeric_limits<double>::min();
    for (double d : {tiny, -tiny, tiny / 2, 0.0, -0.0}) {
        const Eigen::LDLT<Eigen::MatrixXd> ldlt(Eigen::MatrixXd::Constant(1, 1, d));
        EXPECT_EQ(vexa::ldlt_solve(ldlt, Eigen::VectorXd::Ones(1))[0], 0.0) << d;
    }
    const Eigen::LDLT<Eigen::MatrixXd> ldlt(Eigen::MatrixXd::Constant(1, 1, 2 * tiny));
    EXPECT_EQ(vexa::ldlt_solve(ldlt, Eigen::VectorXd::Ones(1))[0], 1.0 / (2 * tiny));
}

}  // namespace
