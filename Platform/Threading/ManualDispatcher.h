#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "Platform/Threading/CoreDispatcher.h"

namespace platform {

// A dispatcher whose work runs only when its owner pumps it, on the thread that created it. Tests use it
// to decide exactly when UI-thread work happens and to count it.
class ManualDispatcher final : public CoreDispatcher {
public:
    // Becomes the current dispatcher of the calling thread.
    static std::shared_ptr<ManualDispatcher> Create();
    ~ManualDispatcher() override;

    bool RunAsync(std::function<void()> work) override;
    bool HasThreadAccess() const override;

    // Runs queued work, including work queued meanwhile, until the queue is empty; returns how many ran.
    size_t RunPending();
    // Pumps until done() holds or the timeout passes; returns done().
    bool RunUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));
    size_t PendingCount() const;
    // Destroys the queued work unrun and refuses all later work, as a dispatcher whose window has closed.
    void Shutdown();

private:
    ManualDispatcher() = default;
    bool RunOne();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
    bool shutDown_ = false;
    std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace platform
