#pragma once

// Private to Platform/Threading: the Asio objects behind ThreadPool, shared with ThreadPoolTimer.

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "Platform/Threading/ThreadPool.h"

namespace platform {

namespace detail {
struct TimerState;

// Outlives the pool for as long as a timer refers to it, so that a timer touched after its pool is gone
// finds the pool marked dead instead of freed memory.
struct PoolCore {
    std::mutex mutex;
    bool alive = true;
    std::set<TimerState*> timers;
};
}  // namespace detail

// Threads are started as work needs them, up to the pool's size, rather than all at once: most of the
// process's life a thread or two carry everything, and every thread started costs its stack and its
// allocator arena for good.
struct ThreadPool::Impl {
    explicit Impl(size_t threads) : maxThreads(threads) {}

    // Before work is queued or a timer's handler starts: the work waiting or running, this one included,
    // has a thread each, up to the pool's size.
    void WorkStarting();
    void WorkDone();
    // A timer's wait, from its start to its end: while any is pending, one thread more than the work
    // waiting or running is kept (up to the pool's size), so that a timer coming due while every other
    // thread is busy (perhaps with work that waits for that very timer) has one to run on.
    void TimerWaiting();
    void TimerWaitEnded();
    void Stop();

    std::shared_ptr<detail::PoolCore> core = std::make_shared<detail::PoolCore>();
    asio::io_context context;

private:
    void StartThread();          // threadsMutex held
    void StartThreadIfNeeded();  // threadsMutex held

    const size_t maxThreads;
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning = asio::make_work_guard(context);
    std::mutex threadsMutex;
    std::vector<std::thread> threads;
    size_t outstanding = 0;    // work queued or running; guarded by threadsMutex
    size_t pendingTimers = 0;  // timers' waits not yet ended; guarded by threadsMutex
    bool stopped = false;
};

}  // namespace platform
