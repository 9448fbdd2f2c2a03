#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "Platform/Threading/CoreDispatcher.h"

namespace velmora::mpris {

// Runs `flush` on the dispatcher at once when asked, unless it ran within the interval: then once when the
// interval has passed, however often it was asked meanwhile. A player that changes ten thousand times a
// second so reaches the widget a few dozen times a second, each time with its newest state, and a single
// change reaches it without delay. Dispatcher thread only; nothing is armed while nobody asks.
class PushThrottle : public std::enable_shared_from_this<PushThrottle> {
public:
    static std::shared_ptr<PushThrottle> Create(std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                std::chrono::milliseconds interval,
                                                std::function<void()> flush);

    void Request();

private:
    PushThrottle(std::shared_ptr<platform::CoreDispatcher> dispatcher, std::chrono::milliseconds interval,
                 std::function<void()> flush);
    void Flush();

    const std::shared_ptr<platform::CoreDispatcher> dispatcher_;
    const std::chrono::milliseconds interval_;
    const std::function<void()> flush_;
    std::chrono::steady_clock::time_point lastFlush_{};
    bool armed_ = false;
};

}  // namespace velmora::mpris
