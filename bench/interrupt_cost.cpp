// The cost of Ctrl-C polling in a default tournament fit. The same fit runs with
// a cancellation that never polls and with the module's poll, which asks the
// embedded interpreter for pending signals (PyErr_CheckSignals) on the calling
// thread; the two are timed interleaved and the medians compared.
//   vexa_interrupt_cost [repeats]   prints: polls, seconds without, seconds with
//   vexa_interrupt_cost repeats never|signal   runs one variant only, for counting
//                                              instructions under callgrind

#include "common/cancellation.hpp"
#include "mcmc/tournament_mcmc.hpp"

#include <Python.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

double seconds_for(const vexa::TournamentMCMC& sampler, const Eigen::MatrixXd& X,
                   const Eigen::VectorXd& y, const vexa::PenaltyTerms& terms,
                   const vexa::Cancellation& cancel) {
    const auto start = std::chrono::steady_clock::now();
    const vexa::MCMCResult result = sampler.fit(X, y, terms, cancel);
    const auto stop = std::chrono::steady_clock::now();
    if (!std::isfinite(result.energy)) std::abort();
    return std::chrono::duration<double>(stop - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 15;
    Py_Initialize();

    // The benchmark's sampler workload: degree-7 polynomial basis, n = 500, penalties.
    std::mt19937_64 gen(3);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.1);
    const Eigen::Index n = 500, p = 8;
    Eigen::MatrixXd X(n, p);
    Eigen::VectorXd y(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const double x = uniform(gen);
        double power = 1.0;
        for (Eigen::Index k = 0; k < p; ++k, power *= x) X(i, k) = power;
        y[i] = std::sin(2.0 * x) + noise(gen);
    }
    const Eigen::MatrixXd R1 = Eigen::MatrixXd::Identity(p, p);
    const Eigen::MatrixXd R2 = 2.0 * Eigen::MatrixXd::Identity(p, p);
    const vexa::PenaltyTerms terms{&R1, &R2, 1e-3, 1e-5};
    const vexa::TournamentMCMC sampler;

    long polls = 0;
    const vexa::Cancellation never;
    const vexa::Cancellation counting([&] { ++polls; });
    const vexa::Cancellation on_signal([] {
        if (PyErr_CheckSignals() != 0) std::abort();
    });
    if (argc > 2) {
        const bool poll = std::string(argv[2]) == "signal";
        for (int r = 0; r < repeats; ++r)
            seconds_for(sampler, X, y, terms, poll ? on_signal : never);
        Py_Finalize();
        return 0;
    }
    seconds_for(sampler, X, y, terms, counting);  // also warms up the thread team
    std::vector<double> without, with;
    for (int r = 0; r < repeats; ++r) {  // alternating which goes first
        if (r % 2 == 0) without.push_back(seconds_for(sampler, X, y, terms, never));
        with.push_back(seconds_for(sampler, X, y, terms, on_signal));
        if (r % 2 == 1) without.push_back(seconds_for(sampler, X, y, terms, never));
    }
    std::printf("%ld\n%.9f\n%.9f\n", polls, median(without), median(with));
    Py_Finalize();
    return 0;
}
