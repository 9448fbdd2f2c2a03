#include "Platform/Threading/ThreadPool.h"

#include <pthread.h>
#include <asio/post.hpp>

#include <cstdio>
#include <exception>

#include "Platform/Threading/ThreadPoolImpl.h"
#include "Platform/Threading/TimerState.h"

namespace platform {

namespace {
constexpr size_t kDefaultThreads = 8;
constexpr size_t kBlockingThreads = 4;

void ReportEscaped(const char* what) {
    std::fprintf(stderr, "platform: exception escaped thread-pool work: %s\n", what);
}
}  // namespace

void ThreadPool::Impl::StartThread() {
    threads.emplace_back([this] {
        // Named here: a thread takes its creator's name otherwise, and pool threads are started from
        // whichever thread posts (the bus thread's name on a pool thread would mislead every report).
        pthread_setname_np(pthread_self(), "velmora-pool");
        context.run();
    });
}

void ThreadPool::Impl::StartThreadIfNeeded() {
    const size_t wanted = outstanding + (pendingTimers > 0 ? 1 : 0);
    if (!stopped && wanted > threads.size() && threads.size() < maxThreads) StartThread();
}

void ThreadPool::Impl::WorkStarting() {
    std::lock_guard lock(threadsMutex);
    ++outstanding;
    StartThreadIfNeeded();
}

void ThreadPool::Impl::WorkDone() {
    std::lock_guard lock(threadsMutex);
    --outstanding;
}

void ThreadPool::Impl::TimerWaiting() {
    std::lock_guard lock(threadsMutex);
    ++pendingTimers;
    StartThreadIfNeeded();
}

void ThreadPool::Impl::TimerWaitEnded() {
    std::lock_guard lock(threadsMutex);
    --pendingTimers;
}

void ThreadPool::Impl::Stop() {
    std::vector<std::thread> started;
    {
        std::lock_guard lock(threadsMutex);
        stopped = true;
        started.swap(threads);
    }
    keepRunning.reset();
    context.stop();
    for (auto& thread : started) thread.join();
}

ThreadPool::ThreadPool(size_t threadCount)
    : impl_(std::make_unique<Impl>(threadCount == 0 ? 1 : threadCount)) {}

ThreadPool::~ThreadPool() {
    {
        // Timers must release their Asio objects while the pool's services still exist.
        std::lock_guard lock(impl_->core->mutex);
        impl_->core->alive = false;
        for (auto* timer : impl_->core->timers) timer->timer.reset();
        impl_->core->timers.clear();
    }
    impl_->Stop();
}

ThreadPool& ThreadPool::Default() {
    // Never destroyed: at exit, work may still be running that waits for other pool work (a destructor
    // waiting out a retry timer), and joining the pool then would hang the exit. The threads end with the
    // process.
    static ThreadPool* pool = new ThreadPool(kDefaultThreads);
    return *pool;
}

ThreadPool& ThreadPool::Blocking() {
    static ThreadPool* pool = new ThreadPool(kBlockingThreads);
    return *pool;
}

void ThreadPool::Post(std::function<void()> work) {
    Impl& impl = *impl_;
    impl.WorkStarting();
    asio::post(impl.context, [&impl, work = std::move(work)] {
        try {
            work();
        } catch (const std::exception& e) {
            ReportEscaped(e.what());
        } catch (...) {
            ReportEscaped("unknown exception");
        }
        impl.WorkDone();
    });
}

}  // namespace platform
