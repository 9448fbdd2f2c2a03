#pragma once

// Private to Platform/Threading: the shared state of one ThreadPoolTimer.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "Platform/Threading/ThreadPoolImpl.h"

namespace platform::detail {

struct TimerState {
    enum Phase { Pending, Fired, Cancelled };

    ~TimerState();

    std::shared_ptr<PoolCore> core;
    std::optional<asio::steady_timer> timer;  // guarded by core->mutex
    std::function<void()> handler;            // touched only by the completion of the wait
    std::chrono::nanoseconds delay{};
    std::atomic<Phase> phase{Pending};
};

}  // namespace platform::detail
