#pragma once

#include <atomic>
#include <memory>

#include "Platform/Threading/CoreDispatcher.h"

namespace testsupport {

// The UI dispatcher of a Qt test: work is queued to the Qt main thread's event loop. It counts what it
// ran and tells whether the caller runs inside its work, so tests can see that something was handed over.
class QtMainThreadDispatcher final : public platform::CoreDispatcher {
public:
    // Call on the Qt main thread, after the application object exists.
    static std::shared_ptr<QtMainThreadDispatcher> Create();

    bool RunAsync(std::function<void()> work) override;
    bool HasThreadAccess() const override;

    bool InsideWork() const { return depth_ > 0; }
    int Ran() const { return ran_; }

private:
    QtMainThreadDispatcher() = default;

    int depth_ = 0;
    std::atomic<int> ran_{0};
};

// Runs the Qt event loop until done() holds or the timeout passes; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

}  // namespace testsupport
