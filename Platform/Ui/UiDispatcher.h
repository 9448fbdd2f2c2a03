#pragma once

#include <functional>
#include <memory>

#include "Platform/Threading/CoreDispatcher.h"

namespace platform {

// The dispatcher of the Qt main thread, the UI thread of the application. Work given to RunAsync from any
// thread runs there, in order, from the event loop (a nested loop included). Once the event loop has
// ended (the application's aboutToQuit), once Shutdown() was called, or once the application object is
// gone, RunAsync refuses work; work still queued then is destroyed without running, on the thread that
// shut the dispatcher down, so no coroutine frame or captured reference leaks.
class UiDispatcher final : public CoreDispatcher {
public:
    // Call on the thread of the QCoreApplication, after it exists. The dispatcher becomes the current
    // dispatcher of that thread.
    static std::shared_ptr<UiDispatcher> Create();
    ~UiDispatcher() override;

    bool RunAsync(std::function<void()> work) override;
    bool HasThreadAccess() const override;

    // Refuses all later work and destroys what is queued. Idempotent.
    void Shutdown();
    bool IsShutDown() const;

    struct Queue;

private:
    UiDispatcher();

    std::shared_ptr<Queue> queue_;
};

}  // namespace platform
