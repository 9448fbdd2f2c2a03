#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "Platform/Threading/ThreadPool.h"

namespace platform {

namespace detail {
struct TimerState;
}

// A one-shot timer whose handler runs on a pool thread. The handler runs at most once: a Cancel() that
// races the expiry either wins (no call) or loses (one call); a Cancel() after the expiry does nothing.
// Dropping the last reference does not cancel the timer, as with the platform timer it stands in for.
class ThreadPoolTimer {
public:
    using Handler = std::function<void()>;

    static std::shared_ptr<ThreadPoolTimer> CreateTimer(Handler handler, std::chrono::nanoseconds delay,
                                                        ThreadPool& pool = ThreadPool::Default());

    explicit ThreadPoolTimer(std::shared_ptr<detail::TimerState> state);
    ~ThreadPoolTimer();

    void Cancel();
    std::chrono::nanoseconds Delay() const;

private:
    std::shared_ptr<detail::TimerState> state_;
};

}  // namespace platform
