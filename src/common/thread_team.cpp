#include "common/thread_team.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#ifdef _OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace vexa {

namespace {

std::atomic<bool> forked_child{false};
std::atomic<double> team_threshold{kTeamOperations};
std::atomic<bool> follows_load{true};
// Workers not asleep (working, leaving a loop, watching for the next one):
// runnable, but the team's own.
std::atomic<int> awake_workers{0};

// Runs in the child right after fork(), with only the forking thread alive: it
// only stores a value. The child never touches the team again.
void mark_forked_child() { forked_child.store(true, std::memory_order_relaxed); }

// One parallel loop as the team sees it. It lives on the calling thread's stack;
// a worker reaches it only between joining and leaving, both under the team's
// mutex, and the caller returns only once no worker is left in it.
struct Loop {
    std::int64_t count = 0;
    const std::function<void(std::int64_t)>* body = nullptr;
    std::vector<std::exception_ptr>* errors = nullptr;
    std::atomic<std::int64_t> next{0};
    std::vector<std::atomic<bool>> done;  // index i has run to its end
    int allowed = 0;                      // workers that may join
    int joined = 0;                       // workers inside (under the mutex)

    void run(std::int64_t i) {
        const std::size_t k = static_cast<std::size_t>(i);
        (*errors)[k] = nullptr;
        try {
            (*body)(i);
        } catch (...) {
            (*errors)[k] = std::current_exception();
        }
        done[k].store(true, std::memory_order_release);
    }

    // Takes indices until none is left.
    void work() {
        for (std::int64_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) run(i);
    }
};

// The workers and the loop they may join. Never destroyed: detached workers
// sleep in it until the process ends.
struct Team {
    std::mutex mutex;
    std::condition_variable wake;          // workers: a loop was posted
    std::condition_variable left;          // the caller: the last worker left its loop
    Loop* loop = nullptr;                  // the loop workers may join, or none
    std::atomic<std::uint64_t> posted{0};  // loops posted so far (changed under the mutex)
    int workers = 0;
    std::atomic<bool> busy{false};  // a loop owns the team
};

Team& team() {
    static Team* const instance = new Team;
    return *instance;
}

// Watches for a loop after `seen` for at most kWatchForNextLoop. A call that runs
// several loops one after another (the chunks of a row-major matrix, the steps
// of the sampler) posts the next one within microseconds, and a worker that is
// still awake joins it at once, where waking a sleeping one takes about 100 us
// on a virtual machine. The wait is short and bounded, and yields the core at each
// step, so that a thread that shares the core (the caller itself, on a busy
// machine) runs first.
constexpr std::chrono::microseconds kWatchForNextLoop{50};

void watch_for_next_loop(const Team& t, std::uint64_t seen) {
    const auto until = std::chrono::steady_clock::now() + kWatchForNextLoop;
    while (t.posted.load(std::memory_order_acquire) == seen &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
}

// Runnable threads on the whole system, the reader included (the field before
// the slash in /proc/loadavg), or -1 when the file cannot be read.
int runnable_threads() noexcept {
    const int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[128];
    const ssize_t length = ::read(fd, text, sizeof(text) - 1);
    ::close(fd);
    if (length <= 0) return -1;
    text[length] = '\0';
    // "0.50 0.40 0.30 3/120 4567": the fourth field is running/total.
    const char* field = text;
    for (int spaces = 0; spaces < 3; ++field)
        if (*field == '\0')
            return -1;
        else if (*field == ' ')
            ++spaces;
    char* end = nullptr;
    const long running = std::strtol(field, &end, 10);
    return end != field && *end == '/' && running > 0 ? static_cast<int>(running) : -1;
}

// The online CPUs when this process may run on all of them, else 0: the load
// counts the whole machine's threads, which says nothing about a few CPUs set
// aside for the process (a container's cpuset).
long machine_cpus() noexcept {
#ifdef __linux__
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    cpu_set_t allowed;
    if (online <= 0 || ::sched_getaffinity(0, sizeof(allowed), &allowed) != 0) return 0;
    return CPU_COUNT(&allowed) >= online ? online : 0;
#else
    return 0;  // no /proc/loadavg to read
#endif
}

// One more than the CPUs that no runnable thread holds, at least 1; a large
// number when the machine's load cannot be read or does not concern this
// process's CPUs. Each thread keeps its last reading for a millisecond: a call
// asks several times, and the load of a millisecond ago is as good a guess as a
// new one.
int idle_width() noexcept {
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point read_at{};
    thread_local int width = 0;
    const Clock::time_point now = Clock::now();
    if (width > 0 && now - read_at < std::chrono::milliseconds(1)) return width;
    static const long cpus = machine_cpus();
    const int runnable = cpus > 0 ? runnable_threads() : -1;
    if (cpus <= 0 || runnable < 0) {
        width = 1 << 20;
    } else {
        const int others = runnable - awake_workers.load(std::memory_order_relaxed);
        width = 1 + std::max(0, static_cast<int>(cpus) - std::max(others, 1));
    }
    read_at = now;
    return width;
}

void worker_main(std::uint64_t seen) {
    Team& t = team();
    std::unique_lock<std::mutex> lock(t.mutex);
    for (;;) {
        if (t.posted.load(std::memory_order_relaxed) == seen) {
            lock.unlock();
            watch_for_next_loop(t, seen);
            lock.lock();
        }
        awake_workers.fetch_sub(1, std::memory_order_relaxed);
        t.wake.wait(lock, [&] { return t.posted.load(std::memory_order_relaxed) != seen; });
        awake_workers.fetch_add(1, std::memory_order_relaxed);
        seen = t.posted.load(std::memory_order_relaxed);
        Loop* loop = t.loop;
        if (loop == nullptr || loop->joined >= loop->allowed) continue;
        ++loop->joined;
        lock.unlock();
        loop->work();
        lock.lock();
        if (--loop->joined == 0) t.left.notify_all();
    }
}

// Starts workers until there are `wanted`, under the team's mutex. A worker that
// cannot be created (no memory for its stack, a thread limit) leaves the team
// narrower; the next loop tries again.
void grow(Team& t, int wanted) {
    while (t.workers < wanted) {
        awake_workers.fetch_add(1, std::memory_order_relaxed);  // a new worker starts awake
        try {
            std::thread(worker_main, t.posted.load(std::memory_order_relaxed)).detach();
        } catch (const std::system_error&) {
            awake_workers.fetch_sub(1, std::memory_order_relaxed);
            return;
        } catch (const std::bad_alloc&) {
            awake_workers.fetch_sub(1, std::memory_order_relaxed);
            return;
        }
        ++t.workers;
    }
}

void run_in_order(std::int64_t count, const std::function<void(std::int64_t)>& body,
                  std::vector<std::exception_ptr>& errors) {
    for (std::int64_t i = 0; i < count; ++i) {
        try {
            body(i);
        } catch (...) {
            errors[static_cast<std::size_t>(i)] = std::current_exception();
        }
    }
}

// Posts the loop, takes indices on the calling thread, then waits for the
// workers that joined, polling `cancel` if this thread polls. Returns false when
// the process was forked while it waited (from a signal handler run by the
// poll): the workers are gone, and the caller must finish their indices.
bool run_on_team(Team& t, Loop& loop, int width, const Cancellation& cancel) {
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        grow(t, width - 1);
        loop.allowed = std::min(t.workers, width - 1);
        t.loop = &loop;
        ++t.posted;
    }
    for (int w = 0; w < loop.allowed; ++w) t.wake.notify_one();
    loop.work();

    if (forked_child.load(std::memory_order_relaxed)) return false;
    const bool polls = cancel.polls_on_this_thread();
    std::unique_lock<std::mutex> lock(t.mutex);
    t.loop = nullptr;  // a worker that wakes from now on does not join
    while (loop.joined > 0) {
        if (!polls) {
            t.left.wait(lock);
            continue;
        }
        t.left.wait_for(lock, std::chrono::milliseconds(2));
        if (loop.joined == 0) break;
        lock.unlock();
        try {
            cancel.check();
        } catch (...) {
            // Kept by the cancellation; the workers stop at their next check.
        }
        if (forked_child.load(std::memory_order_relaxed)) return false;
        lock.lock();
    }
    return true;
}

}  // namespace

void guard_thread_team_across_fork() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        pthread_atfork(nullptr, nullptr, &mark_forked_child);
        // Some OpenMP runtimes set themselves up on the first query and cannot
        // do so later under a memory cap: ask once now.
        (void)team_width();
    });
}

bool thread_team_usable() noexcept { return !forked_child.load(std::memory_order_relaxed); }

double set_team_threshold(double operations) noexcept {
    return team_threshold.exchange(operations);
}

bool set_team_follows_load(bool follows) noexcept { return follows_load.exchange(follows); }

int team_width() noexcept {
    if (!thread_team_usable()) return 1;
#ifdef _OPENMP
    const int configured = std::max(1, omp_get_max_threads());
#else
    const int configured = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
#endif
    if (configured == 1 || !follows_load.load(std::memory_order_relaxed)) return configured;
    return std::min(configured, idle_width());
}

void parallel_for(std::int64_t count, const Cancellation& cancel,
                  const std::function<void(std::int64_t)>& body, double operations) {
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(count > 0 ? count : 0));
    // Small loops are decided before the team's width, which may read the load.
    const bool small = count <= 1 || operations < team_threshold.load(std::memory_order_relaxed);
    const int width = small ? 1 : static_cast<int>(std::min<std::int64_t>(team_width(), count));
    Team& t = team();
    bool expected = false;
    if (width <= 1 || !t.busy.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
        run_in_order(count, body, errors);
    } else {
        Loop loop;
        loop.count = count;
        loop.body = &body;
        loop.errors = &errors;
        loop.done = std::vector<std::atomic<bool>>(static_cast<std::size_t>(count));
        if (!run_on_team(t, loop, width, cancel)) {
            // A forked child: the indices its parent's workers had started.
            const std::int64_t taken = std::min(count, loop.next.load());
            for (std::int64_t i = 0; i < taken; ++i)
                if (!loop.done[static_cast<std::size_t>(i)].load()) loop.run(i);
        }
        t.busy.store(false, std::memory_order_release);
    }

    cancel.rethrow_if_cancelled();
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

}  // namespace vexa
