#include "common/cancellation.hpp"

#include <utility>

namespace vexa {

Cancellation::Cancellation(Poll poll)
    : poll_(std::move(poll)), owner_(std::this_thread::get_id()) {}

void Cancellation::check() const {
    if (cancelled_.load(std::memory_order_acquire)) {
        if (polls_on_this_thread()) std::rethrow_exception(reason_);
        throw OperationCancelled();
    }
    if (!polls_on_this_thread()) return;
    try {
        poll_();
    } catch (...) {
        reason_ = std::current_exception();
        cancelled_.store(true, std::memory_order_release);
        throw;
    }
}

bool Cancellation::polls_on_this_thread() const noexcept {
    return poll_ && std::this_thread::get_id() == owner_;
}

void Cancellation::rethrow_if_cancelled() const {
    if (cancelled_.load(std::memory_order_acquire)) std::rethrow_exception(reason_);
}

}  // namespace vexa
