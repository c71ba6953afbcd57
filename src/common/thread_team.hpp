#pragma once
// The module's thread team: a few worker threads of its own that sleep until a
// parallel loop hands out work, then take indices one at a time beside the
// calling thread. Results never depend on the team's width, so the team is sized
// by what the system allows and by what the work pays for:
// - a worker that cannot be created (a memory cap, a thread limit) leaves the
//   team narrower, down to the calling thread alone;
// - a loop of one index, or of too little work to pay for waking a thread, runs
//   on the calling thread;
// - on a busy machine the team takes only the CPUs that no runnable thread
//   holds: a worker that shares a core with another program's thread runs at
//   half speed and holds up the loop's end, while the caller alone usually keeps
//   a core of its own;
// - the caller waits only for indices a worker has started, never for a worker
//   that has not yet been given a core;
// - a forked child has no workers and runs every loop on its one thread.

#include "common/cancellation.hpp"

#include <cstdint>
#include <functional>

namespace vexa {

// Registers the fork handler that marks a child process and settles the team's
// default width (once per process; later calls do nothing). The module calls it
// when it is loaded.
void guard_thread_team_across_fork();

// False in a process forked after guard_thread_team_across_fork().
bool thread_team_usable() noexcept;

// Threads a parallel loop started on this thread may use, the calling one
// included: the OpenMP default team size (omp_get_max_threads(), which follows
// OMP_NUM_THREADS and omp_set_num_threads()), 1 in a forked child, and at most
// one more than the idle CPUs: the online CPUs less the runnable threads that
// /proc/loadavg counts (the caller among them; the team's own workers not),
// read at most once a millisecond. No limit where that file cannot be read or
// the process may run on only some of the CPUs (the load is the whole machine's).
int team_width() noexcept;

// Whether team_width() follows the machine's load (true until changed); returns
// the previous setting. Tests turn it off to put loops on the team whatever
// else the machine runs.
bool set_team_follows_load(bool follows) noexcept;

// Below this many arithmetic operations a loop runs on the calling thread: a
// sleeping worker needs tens of microseconds to wake and start, and on a busy
// machine much longer.
inline constexpr double kTeamOperations = 2e6;

// Sets the work below which loops run on the calling thread (kTeamOperations
// until changed) and returns the previous value; tests lower it to put small
// loops on the team.
double set_team_threshold(double operations) noexcept;

// body(i) for i = 0 ... count - 1, handed out one at a time to the calling
// thread and the team, or run in order on the calling thread when count <= 1,
// `operations` (an estimate of the whole loop's arithmetic) is below the
// threshold, the team is busy with another loop (a nested or concurrent
// call) or the process is a forked child. An exception from body(i) is kept and
// does not stop the other indices. The polling thread keeps checking `cancel`
// while it waits for the others, so a cancellation is seen even when it has no
// work left. Afterwards the cancellation's exception, else the first kept one in
// index order, is rethrown.
// body(i) must give the same result when run again from its start: a child
// forked during the loop (from a signal handler) reruns the indices its parent's
// workers had started.
void parallel_for(std::int64_t count, const Cancellation& cancel,
                  const std::function<void(std::int64_t)>& body, double operations = 1e300);

}  // namespace vexa
