#include "fit/ldlt_solve.hpp"
#include "fit/tall_qr.hpp"

#include "random_matrix.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <random>
#include <utility>
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

// The blocked QR: X = Q [R; 0] in scaled units (so RᵀR = XᵀX and RᵀQᵀy = Xᵀy
// once the powers of two are undone), R upper triangular, and the same bits for
// every team size, instruction-set path and layout of X.
TEST(TallQr, FactorsEveryLayoutTeamSizeAndPathAlike) {
    std::mt19937_64 gen(9);
    // One block, several blocks in one chunk, and several chunks.
    for (const auto& [n, p] :
         {std::pair<Eigen::Index, Eigen::Index>{40, 7}, {20000, 3}, {300000, 3}, {3000, 45}}) {
        const Eigen::MatrixXd X = random_matrix(n, p, gen);
        const Eigen::VectorXd y = random_matrix(n, 1, gen);
        const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> rows = X;
        const vexa::TallQr reference = vexa::tall_qr(X, y);
        ASSERT_TRUE(reference.finite);
        const Eigen::MatrixXd R = std::ldexp(1.0, reference.x_exponent) * reference.R;
        const Eigen::VectorXd Qty = std::ldexp(1.0, reference.y_exponent) * reference.Qty;
        ASSERT_EQ(R.rows(), p);
        EXPECT_TRUE(R.isUpperTriangular(0.0));
        const Eigen::MatrixXd gram = X.transpose() * X;
        EXPECT_TRUE((R.transpose() * R).isApprox(gram, 1e-12)) << "n=" << n;
        EXPECT_TRUE((R.transpose() * Qty).isApprox(X.transpose() * y, 1e-11)) << n;

        const auto bytes = [](const Eigen::MatrixXd& M) {
            return std::vector<unsigned char>(
                reinterpret_cast<const unsigned char*>(M.data()),
                reinterpret_cast<const unsigned char*>(M.data() + M.size()));
        };
        const int saved = omp_get_max_threads();
        for (int threads : {1, 2, 3}) {
            omp_set_num_threads(threads);
            for (vexa::SimdPath path :
                 {vexa::SimdPath::baseline, vexa::SimdPath::avx2, vexa::SimdPath::avx512}) {
                if (!vexa::simd_path_supported(path)) continue;
                for (const vexa::TallQr& other :
                     {vexa::tall_qr(X, y, vexa::Cancellation(), path),
                      vexa::tall_qr(rows, y, vexa::Cancellation(), path)}) {
                    EXPECT_EQ(bytes(other.R), bytes(reference.R))
                        << "n=" << n << ", threads " << threads << ", "
                        << vexa::simd_path_name(path);
                    EXPECT_EQ(bytes(other.Qty), bytes(reference.Qty));
                }
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
    // On one thread the checks between blocks poll, so the fourth stops it.
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    EXPECT_THROW(vexa::tall_qr(X, y, cancel), Interrupted);
    omp_set_num_threads(saved);
    EXPECT_EQ(polls, 4);
}
