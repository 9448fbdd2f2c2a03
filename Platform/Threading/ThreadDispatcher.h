#pragma once

#include <memory>
#include <thread>

#include "Platform/Threading/CoreDispatcher.h"

namespace platform {

// A dispatcher that owns its thread: the UI thread of headless runs and of tests that want a real one.
// Shutdown (or destruction) stops the thread after the item it is running and destroys the queued work.
class ThreadDispatcher final : public CoreDispatcher {
public:
    static std::shared_ptr<ThreadDispatcher> Create();
    ~ThreadDispatcher() override;

    bool RunAsync(std::function<void()> work) override;
    bool HasThreadAccess() const override;
    // Destroys the queued work unrun and refuses all later work; the item running goes on to its end.
    void Shutdown();

    struct Queue;

private:
    ThreadDispatcher();

    std::shared_ptr<Queue> queue_;
    std::thread thread_;
};

}  // namespace platform
