#include "fit/ldlt_solve.hpp"
#include "fit/tall_qr.hpp"

#include "random_matrix.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

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

// The blocked QR: X = Q [R; 0] (so RᵀR = XᵀX and RᵀQᵀy = Xᵀy), R upper
// triangular, and the same bits for every team size and for a row-major X.
TEST(TallQr, FactorsEveryLayoutAndTeamSizeAlike) {
    std::mt19937_64 gen(9);
    // One block, several, and enough blocks for the stacked factors to be split again.
    for (Eigen::Index n : {40, 20000, 300000}) {
        const Eigen::Index p = n == 40 ? 7 : 3;
        const Eigen::MatrixXd X = random_matrix(n, p, gen);
        const Eigen::VectorXd y = random_matrix(n, 1, gen);
        const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> rows = X;
        const vexa::TallQr reference = vexa::tall_qr(X, y);
        const Eigen::MatrixXd& R = reference.R;
        ASSERT_EQ(R.rows(), p);
        EXPECT_TRUE(R.isUpperTriangular(0.0));
        const Eigen::MatrixXd gram = X.transpose() * X;
        EXPECT_TRUE((R.transpose() * R).isApprox(gram, 1e-12)) << "n=" << n;
        EXPECT_TRUE((R.transpose() * reference.Qty).isApprox(X.transpose() * y, 1e-11)) << n;

        const int saved = omp_get_max_threads();
        for (int threads : {1, 2, 3}) {
            omp_set_num_threads(threads);
            for (const vexa::TallQr& other : {vexa::tall_qr(X, y), vexa::tall_qr(rows, y)}) {
                const auto bytes = [](const Eigen::MatrixXd& M) {
                    return std::vector<unsigned char>(
                        reinterpret_cast<const unsigned char*>(M.data()),
                        reinterpret_cast<const unsigned char*>(M.data() + M.size()));
                };
                EXPECT_EQ(bytes(other.R), bytes(R)) << "n=" << n << ", threads " << threads;
                EXPECT_EQ(bytes(other.Qty), bytes(reference.Qty));
            }
        }
        omp_set_num_threads(saved);
    }
}

TEST(TallQr, StopsWhenCancelled) {
    struct Interrupted {};
    std::mt19937_64 gen(4);
    const Eigen::MatrixXd X = random_matrix(200000, 4, gen);
    const Eigen::VectorXd y = random_matrix(200000, 1, gen);
    int polls = 0;
    const vexa::Cancellation cancel([&] {
        if (++polls > 3) throw Interrupted();
    });
    // On one thread every block's check is a poll, so the fourth block stops it.
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    EXPECT_THROW(vexa::tall_qr(X, y, cancel), Interrupted);
    omp_set_num_threads(saved);
    EXPECT_EQ(polls, 4);
}
