#include "Platform/Threading/ThreadPoolTimer.h"

#include <cstdio>
#include <exception>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/TimerState.h"

namespace platform {

namespace detail {
TimerState::~TimerState() {
    std::lock_guard lock(core->mutex);
    core->timers.erase(this);
    timer.reset();
}
}  // namespace detail

std::shared_ptr<ThreadPoolTimer> ThreadPoolTimer::CreateTimer(Handler handler, std::chrono::nanoseconds delay,
                                                              ThreadPool& pool) {
    auto state = std::make_shared<detail::TimerState>();
    state->core = pool.impl().core;
    state->handler = std::move(handler);
    state->delay = delay;

    std::lock_guard lock(state->core->mutex);
    if (!state->core->alive) throw PlatformError(E_UNEXPECTED, "thread pool is shut down");
    ThreadPool::Impl& impl = pool.impl();
    state->timer.emplace(impl.context.get_executor(), delay);
    state->core->timers.insert(state.get());
    impl.TimerWaiting();
    // The wait ends on a pool thread, so the pool is alive while this runs.
    state->timer->async_wait([state, &impl](const std::error_code& error) {
        impl.TimerWaitEnded();
        auto expected = detail::TimerState::Pending;
        auto handler = std::move(state->handler);
        // An aborted wait means Cancel() or the pool shutting down: never a reason to run the handler.
        auto next = error ? detail::TimerState::Cancelled : detail::TimerState::Fired;
        if (!state->phase.compare_exchange_strong(expected, next) || error) return;
        // Counted as work while it runs, so that work posted meanwhile gets a thread of its own.
        impl.WorkStarting();
        try {
            if (handler) handler();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "platform: exception escaped a timer handler: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "platform: exception escaped a timer handler\n");
        }
        impl.WorkDone();
    });
    return std::make_shared<ThreadPoolTimer>(state);
}

ThreadPoolTimer::ThreadPoolTimer(std::shared_ptr<detail::TimerState> state) : state_(std::move(state)) {}

ThreadPoolTimer::~ThreadPoolTimer() = default;

void ThreadPoolTimer::Cancel() {
    auto expected = detail::TimerState::Pending;
    if (!state_->phase.compare_exchange_strong(expected, detail::TimerState::Cancelled)) return;
    // Wake the wait now so that its handler (and what it captured) is released without waiting out the delay.
    std::lock_guard lock(state_->core->mutex);
    if (state_->timer) state_->timer->cancel();
}

std::chrono::nanoseconds ThreadPoolTimer::Delay() const {
    return state_->delay;
}

}  // namespace platform
