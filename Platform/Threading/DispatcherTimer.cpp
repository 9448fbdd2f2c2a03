#include "Platform/Threading/DispatcherTimer.h"

#include <mutex>

#include "Platform/Threading/ThreadPoolTimer.h"

namespace platform {

struct DispatcherTimer::State : std::enable_shared_from_this<State> {
    std::shared_ptr<CoreDispatcher> dispatcher;
    mutable std::mutex mutex;
    std::chrono::nanoseconds interval{std::chrono::seconds(1)};
    std::function<void()> tick;
    std::shared_ptr<ThreadPoolTimer> pending;
    // Each Start() opens a new generation; a tick of an older one is stale and does not run.
    uint64_t generation = 0;
    bool enabled = false;

    void Arm(uint64_t forGeneration) {
        std::weak_ptr<State> weak = weak_from_this();
        std::lock_guard lock(mutex);
        if (!enabled || generation != forGeneration) return;
        pending = ThreadPoolTimer::CreateTimer(
            [weak, forGeneration] {
                auto self = weak.lock();
                if (!self) return;
                self->dispatcher->RunAsync([weak, forGeneration] {
                    if (auto self = weak.lock()) self->RunTick(forGeneration);
                });
            },
            interval);
    }

    void RunTick(uint64_t forGeneration) {
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex);
            if (!enabled || generation != forGeneration) return;
            handler = tick;
        }
        if (handler) handler();
        Arm(forGeneration);
    }
};

DispatcherTimer::DispatcherTimer(std::shared_ptr<CoreDispatcher> dispatcher)
    : state_(std::make_shared<State>()) {
    state_->dispatcher = std::move(dispatcher);
}

DispatcherTimer::~DispatcherTimer() {
    Stop();
}

void DispatcherTimer::Interval(std::chrono::nanoseconds interval) {
    std::lock_guard lock(state_->mutex);
    state_->interval = interval;
}

std::chrono::nanoseconds DispatcherTimer::Interval() const {
    std::lock_guard lock(state_->mutex);
    return state_->interval;
}

void DispatcherTimer::Tick(std::function<void()> handler) {
    std::lock_guard lock(state_->mutex);
    state_->tick = std::move(handler);
}

void DispatcherTimer::Start() {
    uint64_t generation;
    std::shared_ptr<ThreadPoolTimer> previous;
    {
        std::lock_guard lock(state_->mutex);
        previous = std::move(state_->pending);
        state_->enabled = true;
        generation = ++state_->generation;
    }
    if (previous) previous->Cancel();
    state_->Arm(generation);
}

void DispatcherTimer::Stop() {
    std::shared_ptr<ThreadPoolTimer> previous;
    {
        std::lock_guard lock(state_->mutex);
        state_->enabled = false;
        ++state_->generation;
        previous = std::move(state_->pending);
    }
    if (previous) previous->Cancel();
}

bool DispatcherTimer::IsEnabled() const {
    std::lock_guard lock(state_->mutex);
    return state_->enabled;
}

}  // namespace platform
