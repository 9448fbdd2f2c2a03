#pragma once

#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <mutex>
#include <vector>

namespace platform {

// An event that stays signalled until reset. Threads may block on it; coroutines may co_await it and
// resume on a pool thread once it is set.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}

    void Set();
    void Reset();
    bool IsSet() const;
    // Blocks; true when the event was set within the timeout.
    bool Wait(std::chrono::nanoseconds timeout);

    struct Awaiter {
        ManualResetEvent& event;
        bool await_ready() const { return event.IsSet(); }
        bool await_suspend(std::coroutine_handle<> handle);
        void await_resume() const noexcept {}
    };
    Awaiter operator co_await() { return Awaiter{*this}; }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_;
    std::vector<std::coroutine_handle<>> waiters_;
};

}  // namespace platform
