// The cost of one sampler energy evaluation at the sampler's default sizes, on
// every instruction set this CPU supports: the fused X*beta and success count
// plus the two penalty forms, timed in a loop.
// Prints the clock measured on a chain of dependent integer adds ("clock GHz"),
// then one line per path: its name, the nanoseconds per evaluation and the
// doubles per vector register; then the Eigen and compiler versions.

#include "kernels/simd_path.hpp"
#include "mcmc/chain_energy.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

// The core's clock in GHz: a chain of dependent integer adds retires one add per
// cycle on every current x86-64 and Arm core, so adds per ns is the clock, the
// one at which the core runs under load rather than the nominal one that
// /proc/cpuinfo reports. The fastest of several rounds. The addend is a register
// the compiler cannot see into: newer Intel cores fold chains of adds of a
// constant at renaming and would report several times the clock.
double measured_clock_ghz() {
    double best = 0.0;
    for (int round = 0; round < 5; ++round) {
        constexpr long kAdds = 50000000;
        unsigned long x = 0;
        unsigned long one = 1;
        asm volatile("" : "+r"(one));
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < kAdds / 10; ++i) {
            // Ten adds each depending on the one before; the empty asm keeps the
            // compiler from merging them.
            for (int k = 0; k < 10; ++k) {
                x += one;
                asm volatile("" : "+r"(x) : "r"(one));
            }
        }
        const double ns =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                .count();
        if (x == kAdds) best = std::max(best, static_cast<double>(kAdds) / ns);
    }
    return best;
}

int main(int argc, char** argv) {
    const Eigen::Index n = argc > 1 ? std::atol(argv[1]) : 500;
    const Eigen::Index p = argc > 2 ? std::atol(argv[2]) : 8;
    const long evaluations = argc > 3 ? std::atol(argv[3]) : 200000;

    std::srand(1);
    const Eigen::MatrixXd X = Eigen::MatrixXd::Random(n, p);
    const Eigen::VectorXd y = Eigen::VectorXd::Random(n);
    const Eigen::MatrixXd R1 = Eigen::MatrixXd::Identity(p, p);
    const Eigen::MatrixXd R2 = Eigen::MatrixXd::Identity(p, p) * 2.0;
    const vexa::PenaltyTerms terms{&R1, &R2, 1e-3, 1e-5};

    std::printf("clock %.3f\n", measured_clock_ghz());
    double sink = 0.0;
    const struct {
        vexa::SimdPath path;
        int width;
    } paths[] = {
        {vexa::SimdPath::baseline, 2}, {vexa::SimdPath::avx2, 4}, {vexa::SimdPath::avx512, 8}};
    for (const auto& entry : paths) {
        if (!vexa::simd_path_supported(entry.path)) continue;
        const vexa::EnergyProblem problem{X, y, 20, vexa::sr_eps(y), terms, entry.path};
        vexa::ChainEnergy energy(problem);
        Eigen::VectorXd beta = Eigen::VectorXd::Random(p) * 0.1;
        const auto start = std::chrono::steady_clock::now();
        for (long e = 0; e < evaluations; ++e) {
            beta[e % p] += 1e-9;  // keep the compiler from hoisting the work
            sink += energy(beta);
        }
        const auto stop = std::chrono::steady_clock::now();
        const double ns = std::chrono::duration<double, std::nano>(stop - start).count();
        std::printf("%s %.3f %d\n", vexa::simd_path_name(entry.path),
                    ns / static_cast<double>(evaluations), entry.width);
    }
    std::printf("%d.%d.%d\n", EIGEN_WORLD_VERSION, EIGEN_MAJOR_VERSION, EIGEN_MINOR_VERSION);
    std::printf("gcc %s\n", __VERSION__);
    return sink == 42.0 ? 1 : 0;
}
