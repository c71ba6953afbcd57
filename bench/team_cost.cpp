// What a parallel loop on the thread team costs against the calling thread alone:
// a loop of two indices of w microseconds of arithmetic each, on the team and on
// the calling thread, for a few w. The difference at small w is the cost of
// waking a worker and waiting for it; the w where the team starts to pay bounds
// the work below which loops stay on the calling thread.
//
//     vexa_team_cost [repeats]

#include "common/thread_team.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

volatile double sink = 0;

// About `micros` microseconds of dependent arithmetic.
void spin_work(double micros) {
    using clock = std::chrono::steady_clock;
    const clock::time_point end =
        clock::now() + std::chrono::nanoseconds(static_cast<long>(micros * 1e3));
    double x = 1.0;
    while (clock::now() < end)
        for (int i = 0; i < 64; ++i) x = x * 1.0000001 + 1e-9;
    sink = sink + x;
}

double median_loop_us(double micros, bool team, int repeats) {
    vexa::set_team_threshold(team ? 0.0 : 1e300);
    const vexa::Cancellation never;
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        const auto a = std::chrono::steady_clock::now();
        vexa::parallel_for(2, never, [&](std::int64_t) { spin_work(micros); }, 1.0);
        const auto b = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(b - a).count());
    }
    std::nth_element(times.begin(), times.begin() + repeats / 2, times.end());
    return times[static_cast<std::size_t>(repeats / 2)];
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 2001;
    vexa::guard_thread_team_across_fork();
    std::printf("%10s %12s %12s %8s\n", "w (us)", "team (us)", "caller (us)", "ratio");
    for (double w : {0.0, 5.0, 20.0, 50.0, 100.0, 200.0, 500.0, 1000.0}) {
        const double team = median_loop_us(w, true, repeats);
        const double alone = median_loop_us(w, false, repeats);
        std::printf("%10.0f %12.2f %12.2f %8.3f\n", w, team, alone, alone > 0 ? team / alone : 0.0);
    }
    return 0;
}
