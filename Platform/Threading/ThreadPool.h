#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

// Worker threads running posted work in any order, started as the work waiting needs them, up to
// `threadCount`. The process shares one (Default()),
// which lives until the process ends; tests may make their own. Destroying a pool stops its threads after
// the work they are running and drops what is still queued, pending timers included.
class ThreadPool {
public:
    // Up to `threadCount` threads; none until there is work or a timer.
    explicit ThreadPool(size_t threadCount);
    ~ThreadPool();

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    static ThreadPool& Default();
    // A small pool for calls that block for seconds (the vault, HTTP): they must never hold back the
    // default pool, which carries every bus reply, push and timer. Never destroyed, like Default().
    static ThreadPool& Blocking();

    // Queues work. An exception escaping the work is reported on standard error and goes no further.
    void Post(std::function<void()> work);

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
