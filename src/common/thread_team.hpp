#pragma once
// The OpenMP thread team of the module's parallel loops, and what happens to it
// across fork(). The OpenMP runtime keeps its worker threads in a pool; a forked
// child has none of them, and its first parallel region would wait forever for
// the parent's. A child therefore runs every parallel loop, and Eigen's matrix
// products, on its one thread. Results do not depend on the thread count, so a
// child computes the same bits as its parent; the parent keeps its team.

#include "common/cancellation.hpp"

#include <cstdint>
#include <functional>

namespace vexa {

// Registers the fork handler that marks a child process (once per process;
// later calls do nothing). The module calls it when it is loaded.
void guard_thread_team_across_fork();

// False in a process forked after guard_thread_team_across_fork().
bool thread_team_usable() noexcept;

// The most threads a parallel loop's team may have (omp_get_max_threads(); 1 in a
// build without OpenMP).
int team_thread_limit() noexcept;

// body(i) for i = 0 ... count - 1, handed out one at a time to the OpenMP team
// (dynamic schedule, chunk 1), or run in order on the calling thread when the
// team is not usable. An exception from body(i) is kept and does not stop the
// other indices. The polling thread keeps checking `cancel` while it waits for
// the others, so a cancellation is seen even when it has no work left. Afterwards
// the cancellation's exception, else the first kept one in index order, is rethrown.
void parallel_for(std::int64_t count, const Cancellation& cancel,
                  const std::function<void(std::int64_t)>& body);

}  // namespace vexa
