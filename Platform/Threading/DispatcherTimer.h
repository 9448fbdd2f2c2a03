#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "Platform/Threading/CoreDispatcher.h"

namespace platform {

// A periodic timer whose Tick runs on a dispatcher's thread. The next interval starts when a tick has
// run, so a slow tick never piles up ticks behind it. Stop() (or destruction) on the dispatcher's thread
// guarantees that no further tick runs.
class DispatcherTimer {
public:
    explicit DispatcherTimer(std::shared_ptr<CoreDispatcher> dispatcher);
    ~DispatcherTimer();

    DispatcherTimer(const DispatcherTimer&) = delete;
    DispatcherTimer& operator=(const DispatcherTimer&) = delete;

    void Interval(std::chrono::nanoseconds interval);
    std::chrono::nanoseconds Interval() const;
    void Tick(std::function<void()> handler);

    void Start();
    void Stop();
    bool IsEnabled() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace platform
