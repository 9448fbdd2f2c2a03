#include "Platform/Threading/ThreadDispatcher.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>

namespace platform {

// Shared with the thread, so that the thread may outlive the dispatcher object when the last reference
// is dropped by work running on the thread itself.
struct ThreadDispatcher::Queue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> work;
    bool stopping = false;
    std::thread::id threadId;
};

ThreadDispatcher::ThreadDispatcher() : queue_(std::make_shared<Queue>()) {}

std::shared_ptr<ThreadDispatcher> ThreadDispatcher::Create() {
    std::shared_ptr<ThreadDispatcher> dispatcher(new ThreadDispatcher());
    std::weak_ptr<ThreadDispatcher> weak = dispatcher;
    auto queue = dispatcher->queue_;
    std::unique_lock lock(queue->mutex);
    dispatcher->thread_ = std::thread([queue, weak] {
        if (auto self = weak.lock()) SetForCurrentThread(self);
        std::unique_lock lock(queue->mutex);
        for (;;) {
            queue->wake.wait(lock, [&] { return queue->stopping || !queue->work.empty(); });
            if (queue->stopping) break;
            auto item = std::move(queue->work.front());
            queue->work.pop_front();
            lock.unlock();
            try {
                item();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "platform: exception escaped dispatcher work: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "platform: exception escaped dispatcher work\n");
            }
            item = nullptr;  // destroy captures before taking the lock again
            lock.lock();
        }
    });
    queue->threadId = dispatcher->thread_.get_id();
    return dispatcher;
}

void ThreadDispatcher::Shutdown() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(queue_->mutex);
        queue_->stopping = true;
        dropped.swap(queue_->work);
    }
    queue_->wake.notify_all();
    // Destroyed here, outside the lock: their destructors may queue work, which is refused.
    dropped.clear();
}

ThreadDispatcher::~ThreadDispatcher() {
    Shutdown();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else if (thread_.joinable()) {
        thread_.join();
    }
}

bool ThreadDispatcher::RunAsync(std::function<void()> work) {
    {
        std::lock_guard lock(queue_->mutex);
        if (!queue_->stopping) {
            queue_->work.push_back(std::move(work));
            queue_->wake.notify_one();
            return true;
        }
    }
    work = nullptr;  // destroyed outside the lock
    return false;
}

bool ThreadDispatcher::HasThreadAccess() const {
    std::lock_guard lock(queue_->mutex);
    return queue_->threadId == std::this_thread::get_id();
}

}  // namespace platform
