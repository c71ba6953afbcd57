#pragma once
// Cooperative cancellation of a long-running operation. The caller hands in a
// poll that throws when the operation must stop (the Python binding checks for
// pending signals there); the operation's loops call check() once per unit of
// work. Only the thread that created the object runs the poll, since only it
// may call back into the caller; other threads read a flag it sets.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <thread>

namespace vexa {

// Thrown on threads other than the polling one once the operation is cancelled;
// the loop that started those threads replaces it by the poll's own exception.
struct OperationCancelled : std::runtime_error {
    OperationCancelled() : std::runtime_error("operation cancelled") {}
};

class Cancellation {
public:
    using Poll = std::function<void()>;

    // Never cancels: check() is a flag read.
    Cancellation() = default;
    // Cancels when `poll`, run on the constructing thread, throws.
    explicit Cancellation(Poll poll);

    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    // Throws once the operation is cancelled: on the polling thread the poll's
    // exception (after running the poll), elsewhere OperationCancelled.
    void check() const;

    // Whether this thread runs the poll, so it must keep checking while it waits.
    bool polls_on_this_thread() const noexcept;

    // After a parallel loop, on the polling thread: rethrows the poll's exception
    // if it cancelled the operation.
    void rethrow_if_cancelled() const;

private:
    Poll poll_;
    std::thread::id owner_;
    mutable std::exception_ptr reason_;  // written by the owner before the flag
    mutable std::atomic<bool> cancelled_{false};
};

// A check for loops whose items are cheap: tick() once per item checks the
// cancellation on the first item and then once per about a million arithmetic
// operations (well under a millisecond), given the cost of one item.
class ThrottledCheck {
public:
    ThrottledCheck(const Cancellation& cancel, std::int64_t operations_per_item)
        : cancel_(cancel),
          items_(std::max<std::int64_t>(
              1, (std::int64_t{1} << 20) / std::max<std::int64_t>(1, operations_per_item))) {}

    void tick() {
        if (--left_ > 0) return;
        left_ = items_;
        cancel_.check();
    }

private:
    const Cancellation& cancel_;
    std::int64_t items_;
    std::int64_t left_ = 0;
};

}  // namespace vexa
