#pragma once

// Private to Platform/Threading: the Asio objects behind ThreadPool, shared with ThreadPoolTimer.

#include <asio/steady_timer.hpp>
#include <asio/thread_pool.hpp>

#include <mutex>
#include <optional>
#include <set>

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

struct ThreadPool::Impl {
    explicit Impl(size_t threads) : pool(threads) {}
    std::shared_ptr<detail::PoolCore> core = std::make_shared<detail::PoolCore>();
    asio::thread_pool pool;
};

}  // namespace platform
