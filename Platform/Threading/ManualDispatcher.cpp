#include "Platform/Threading/ManualDispatcher.h"

namespace platform {

std::shared_ptr<ManualDispatcher> ManualDispatcher::Create() {
    std::shared_ptr<ManualDispatcher> dispatcher(new ManualDispatcher());
    SetForCurrentThread(dispatcher);
    return dispatcher;
}

bool ManualDispatcher::RunAsync(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (!shutDown_) {
            work_.push_back(std::move(work));
            wake_.notify_all();
            return true;
        }
    }
    work = nullptr;  // destroyed outside the lock
    return false;
}

bool ManualDispatcher::HasThreadAccess() const {
    return std::this_thread::get_id() == owner_;
}

bool ManualDispatcher::RunOne() {
    std::function<void()> item;
    {
        std::lock_guard lock(mutex_);
        if (work_.empty()) return false;
        item = std::move(work_.front());
        work_.pop_front();
    }
    item();
    return true;
}

size_t ManualDispatcher::RunPending() {
    size_t count = 0;
    while (RunOne()) ++count;
    return count;
}

bool ManualDispatcher::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        RunPending();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // done() may turn true through pool work that queues nothing here, so look again now and then.
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock,
                         std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(2)),
                         [&] { return !work_.empty(); });
    }
}

size_t ManualDispatcher::PendingCount() const {
    std::lock_guard lock(mutex_);
    return work_.size();
}

void ManualDispatcher::Shutdown() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        shutDown_ = true;
        dropped.swap(work_);
    }
    // Destroyed here, outside the lock: their destructors may queue work, which is refused.
    dropped.clear();
}

ManualDispatcher::~ManualDispatcher() {
    Shutdown();
}

}  // namespace platform
