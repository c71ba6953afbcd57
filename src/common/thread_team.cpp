#include "common/thread_team.hpp"

#include <pthread.h>
#ifdef _OPENMP
#include <omp.h>
#endif
#include <Eigen/Core>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vexa {

namespace {

std::atomic<bool> forked_child{false};

// Runs in the child right after fork(), with only the forking thread alive: it
// only stores two values.
void mark_forked_child() {
    forked_child.store(true, std::memory_order_relaxed);
    Eigen::setNbThreads(1);
}

// The polling thread's wait for the others to finish `count` indices. It spins
// for the first couple of milliseconds, as the OpenMP barrier would, so that a
// short wait adds no latency; a longer one sleeps briefly between polls rather
// than take a core from the threads still working.
void wait_polling(const std::atomic<std::int64_t>& finished, std::int64_t count,
                  const Cancellation& cancel) {
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    while (finished.load(std::memory_order_acquire) < count) {
        try {
            cancel.check();
        } catch (...) {
            // Kept by the cancellation; the others stop at their next check.
        }
        if (clock::now() - start < std::chrono::milliseconds(2))
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace

void guard_thread_team_across_fork() {
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, &mark_forked_child); });
}

int team_thread_limit() noexcept {
#ifdef _OPENMP
    return omp_get_max_threads();
#else
    return 1;
#endif
}

bool thread_team_usable() noexcept { return !forked_child.load(std::memory_order_relaxed); }

void parallel_for(std::int64_t count, const Cancellation& cancel,
                  const std::function<void(std::int64_t)>& body) {
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(count > 0 ? count : 0));
    // An exception must not leave an OpenMP region: each index parks its own.
    auto run = [&](std::int64_t i) {
        try {
            body(i);
        } catch (...) {
            errors[static_cast<std::size_t>(i)] = std::current_exception();
        }
    };

    if (!thread_team_usable()) {
        for (std::int64_t i = 0; i < count; ++i) run(i);
    } else {
        std::atomic<std::int64_t> finished{0};
#pragma omp parallel
        {
#pragma omp for schedule(dynamic, 1) nowait
            for (std::int64_t i = 0; i < count; ++i) {
                run(i);
                finished.fetch_add(1, std::memory_order_release);
            }
            if (cancel.polls_on_this_thread()) wait_polling(finished, count, cancel);
        }
    }

    cancel.rethrow_if_cancelled();
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

}  // namespace vexa
