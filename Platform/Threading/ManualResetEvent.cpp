#include "Platform/Threading/ManualResetEvent.h"

#include "Platform/Threading/ThreadPool.h"

namespace platform {

void ManualResetEvent::Set() {
    std::vector<std::coroutine_handle<>> waiters;
    {
        std::lock_guard lock(mutex_);
        set_ = true;
        waiters.swap(waiters_);
        // Under the lock: a woken waiter may destroy the event as soon as it can take the lock.
        changed_.notify_all();
    }
    // Waiters resume on the pool rather than inside Set(), whose caller may hold locks of its own.
    for (auto waiter : waiters) ThreadPool::Default().Post([waiter] { waiter.resume(); });
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool ManualResetEvent::Wait(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return set_; });
}

bool ManualResetEvent::Awaiter::await_suspend(std::coroutine_handle<> handle) {
    std::lock_guard lock(event.mutex_);
    if (event.set_) return false;
    event.waiters_.push_back(handle);
    return true;
}

}  // namespace platform
