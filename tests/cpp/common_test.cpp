#include "common/cancellation.hpp"
#include "common/memory_budget.hpp"
#include "common/row_major_copy.hpp"
#include "common/thread_team.hpp"

#include <gtest/gtest.h>
#include <omp.h>
#include <sched.h>
#include <unistd.h>
#include <Eigen/Core>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

TEST(ParallelFor, RunsEveryIndexOnceAndRethrowsTheFirstErrorInIndexOrder) {
    const vexa::Cancellation never;
    std::vector<int> seen(50, 0);
    vexa::parallel_for(50, never, [&](std::int64_t i) { ++seen[static_cast<std::size_t>(i)]; });
    EXPECT_EQ(seen, std::vector<int>(50, 1));

    try {
        vexa::parallel_for(20, never, [](std::int64_t i) {
            if (i == 7 || i == 13) throw std::out_of_range(std::to_string(i));
        });
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "7");
    }
}

// The poll runs on the creating thread only; once it throws, every other
// index stops at its next check and the poll's own exception comes out, also
// when the polling thread has no work left and only waits for the others.
TEST(ParallelFor, PollOnTheCallingThreadStopsEveryIndex) {
    std::atomic<int> polls{0};
    const vexa::Cancellation cancel([&] {
        if (++polls > 100) throw Interrupted();
    });
    std::atomic<std::int64_t> steps{0};
    EXPECT_THROW(vexa::parallel_for(8, cancel,
                                    [&](std::int64_t) {
                                        for (;;) {  // would never end without the cancellation
                                            cancel.check();
                                            ++steps;
                                        }
                                    }),
                 Interrupted);
    EXPECT_GT(polls.load(), 100);
    EXPECT_THROW(cancel.check(), Interrupted);  // stays cancelled
}

// The calling thread has no work of its own left but keeps polling while the
// others run: it returns from its index once another thread runs one forever.
TEST(ParallelFor, CallingThreadPollsWhileWaitingForTheOthers) {
    const int threads = omp_get_max_threads();
    omp_set_num_threads(2);
    const bool follows = vexa::set_team_follows_load(false);  // a worker must join
    std::atomic<int> polls{0};
    std::atomic<bool> other_started{false};
    const vexa::Cancellation cancel([&] {
        if (++polls > 100) throw Interrupted();
    });
    EXPECT_THROW(vexa::parallel_for(2, cancel,
                                    [&](std::int64_t) {
                                        if (cancel.polls_on_this_thread()) {
                                            while (!other_started) std::this_thread::yield();
                                            return;
                                        }
                                        other_started = true;
                                        for (;;) cancel.check();
                                    }),
                 Interrupted);
    omp_set_num_threads(threads);
    vexa::set_team_follows_load(follows);
}

// One index, or too little work to pay for waking a worker: the calling thread
// runs every index, in order, and never waits for the team.
TEST(ParallelFor, SmallLoopsStayOnTheCallingThread) {
    const int threads = omp_get_max_threads();
    omp_set_num_threads(4);
    const vexa::Cancellation never;
    const std::thread::id caller = std::this_thread::get_id();
    for (auto [count, operations] :
         {std::pair<std::int64_t, double>{1, 1e12}, {16, vexa::kTeamOperations / 2}}) {
        std::vector<std::int64_t> order;
        vexa::parallel_for(
            count, never,
            [&](std::int64_t i) {
                EXPECT_EQ(std::this_thread::get_id(), caller);
                order.push_back(i);
            },
            operations);
        EXPECT_EQ(order.size(), static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], std::int64_t(i));
    }
    omp_set_num_threads(threads);
}

// Workers that finish a loop watch for the next one only briefly, then sleep:
// a process that made a parallel call uses no CPU time while it does nothing.
TEST(ParallelFor, WorkersSleepSoonAfterALoop) {
    const int threads = omp_get_max_threads();
    omp_set_num_threads(4);
    const vexa::Cancellation never;
    vexa::parallel_for(
        8, never, [](std::int64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); },
        1e12);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::clock_t before = std::clock();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double cpu_seconds = static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    EXPECT_LT(cpu_seconds, 0.05);  // a worker that never slept would take 0.3 s or more
    omp_set_num_threads(threads);
}

// With every CPU held by a runnable thread the team shrinks to the caller, which
// usually keeps a core of its own; turned off, the configured width holds.
TEST(TeamWidth, FollowsTheLoad) {
#ifdef __linux__
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0 ||
        CPU_COUNT(&allowed) < sysconf(_SC_NPROCESSORS_ONLN))
        GTEST_SKIP() << "the process may run on only some CPUs: the team ignores the load";
#else
    GTEST_SKIP() << "the load is read from /proc/loadavg";
#endif
    const int threads = omp_get_max_threads();
    omp_set_num_threads(4);
    std::atomic<bool> stop{false};
    std::vector<std::thread> spinners;
    for (long s = 0; s < sysconf(_SC_NPROCESSORS_ONLN); ++s)
        spinners.emplace_back([&] {
            while (!stop) {
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the last reading
    EXPECT_EQ(vexa::team_width(), 1);
    const bool follows = vexa::set_team_follows_load(false);
    EXPECT_EQ(vexa::team_width(), 4);
    vexa::set_team_follows_load(follows);
    stop = true;
    for (std::thread& s : spinners) s.join();
    omp_set_num_threads(threads);
}

TEST(ThrottledCheck, PollsOnTheFirstItemThenOncePerMillionOperations) {
    int polls = 0;
    const vexa::Cancellation cancel([&] { ++polls; });
    vexa::ThrottledCheck check(cancel, 1024);  // 1024 items per poll
    for (int i = 0; i < 1024 * 3; ++i) check.tick();
    EXPECT_EQ(polls, 3);
    vexa::ThrottledCheck expensive(cancel, std::int64_t{1} << 40);  // every item
    for (int i = 0; i < 5; ++i) expensive.tick();
    EXPECT_EQ(polls, 8);
}

// A fake /proc and /sys for the cgroup lookup.
vexa::FileReader fake_files(std::map<std::string, std::string> files) {
    return [files](const std::string& path) -> std::optional<std::string> {
        const auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    };
}

TEST(RowMajorCopy, EveryShapeLandsInColumnOrder) {
    // Narrow and wide (one block of rows or many, with a partial last one), empty.
    for (const auto& [rows, cols] : std::vector<std::pair<Eigen::Index, Eigen::Index>>{
             {1000, 3}, {7, 1000}, {1037, 64}, {1, 1}, {0, 5}, {5, 0}}) {
        using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
        const RowMajor source = RowMajor::Random(rows, cols);
        Eigen::MatrixXd copy(rows, cols);
        vexa::copy_row_major_to_columns(source.data(), rows, cols, copy.data());
        EXPECT_EQ(copy, Eigen::MatrixXd(source)) << rows << " x " << cols;
    }
}

TEST(CgroupMemoryLimit, V2TakesTheLeastOfTheGroupAndItsAncestors) {
    const std::string mountinfo =
        "31 23 0:28 / /sys/fs/cgroup rw,relatime shared:9 - cgroup2 cgroup2 rw\n";
    EXPECT_EQ(vexa::cgroup_memory_limit(fake_files({
                  {"/proc/self/cgroup", "0::/a/b\n"},
                  {"/proc/self/mountinfo", mountinfo},
                  {"/sys/fs/cgroup/a/b/memory.max", "max\n"},
                  {"/sys/fs/cgroup/a/memory.max", "1073741824\n"},
              })),
              std::optional<std::uint64_t>(1073741824));
    EXPECT_EQ(vexa::cgroup_memory_limit(fake_files({
                  {"/proc/self/cgroup", "0::/a\n"},
                  {"/proc/self/mountinfo", mountinfo},
                  {"/sys/fs/cgroup/a/memory.max", "max\n"},
              })),
              std::nullopt);
}

TEST(CgroupMemoryLimit, V1ReadsTheMemoryControllerBelowAContainerRoot) {
    // The container sees its own group as the root of the mount.
    EXPECT_EQ(vexa::cgroup_memory_limit(fake_files({
                  {"/proc/self/cgroup", "5:cpu,cpuacct:/box\n4:memory:/box/job\n"},
                  {"/proc/self/mountinfo",
                   "35 31 0:32 /box /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"},
                  {"/sys/fs/cgroup/memory/job/memory.limit_in_bytes", "536870912\n"},
                  {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"},
              })),
              std::optional<std::uint64_t>(536870912));
}

TEST(CgroupMemoryLimit, MissingFilesMeanNoLimit) {
    EXPECT_EQ(vexa::cgroup_memory_limit(fake_files({})), std::nullopt);
    EXPECT_GT(vexa::memory_budget_bytes(), std::uint64_t{1} << 24);
}

}  // namespace
