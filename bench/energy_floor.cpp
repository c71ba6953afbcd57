// The bare arithmetic of one sampler energy evaluation at the sampler's default
// sizes: one X*beta, one success count and the two penalty forms, timed in a loop.
// Prints the nanoseconds per evaluation, then the Eigen and compiler versions.

#include "stats/description_length.hpp"
#include "stats/robust_stats.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const Eigen::Index n = argc > 1 ? std::atol(argv[1]) : 500;
    const Eigen::Index p = argc > 2 ? std::atol(argv[2]) : 8;
    const long evaluations = argc > 3 ? std::atol(argv[3]) : 200000;

    std::srand(1);
    const Eigen::MatrixXd X = Eigen::MatrixXd::Random(n, p);
    const Eigen::VectorXd y = Eigen::VectorXd::Random(n);
    const Eigen::MatrixXd R1 = Eigen::MatrixXd::Identity(p, p);
    const Eigen::MatrixXd R2 = Eigen::MatrixXd::Identity(p, p) * 2.0;
    Eigen::VectorXd beta = Eigen::VectorXd::Random(p) * 0.1;
    Eigen::VectorXd yp(n), work(p);
    const double eps = vexa::sr_eps(y);

    double sink = 0.0;
    const auto start = std::chrono::steady_clock::now();
    for (long e = 0; e < evaluations; ++e) {
        beta[e % p] += 1e-9;  // keep the compiler from hoisting the work
        yp.noalias() = X * beta;
        sink += vexa::compute_sr(yp, y, eps);
        sink += vexa::quad_penalty(beta, R1, work) + vexa::quad_penalty(beta, R2, work);
    }
    const auto stop = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(stop - start).count();
    std::printf("%.3f\n", ns / static_cast<double>(evaluations));
    std::printf("%d.%d.%d\n", EIGEN_WORLD_VERSION, EIGEN_MAJOR_VERSION, EIGEN_MINOR_VERSION);
    std::printf("gcc %s\n", __VERSION__);
    return sink == 42.0 ? 1 : 0;
}
