#pragma once

#include <functional>
#include <memory>

namespace platform {

// The executor of one UI thread. A dispatcher registers itself as the current dispatcher of its thread,
// which is how an awaited Task knows to come back to the thread that awaited it.
//
// Every implementation keeps this contract:
// - RunAsync(work) queues the work and returns true; the work then runs once, on the dispatcher's thread,
//   after everything queued before it. Once the dispatcher has shut down, RunAsync returns false and the
//   work is destroyed without running, before RunAsync returns.
// - Shutting down (a window closing, Shutdown(), destruction) destroys every item still queued without
//   running it: nothing queued is leaked, and nothing runs after the shutdown. The items are destroyed
//   outside the dispatcher's own lock, so their destructors may call RunAsync (which then returns false).
// - HasThreadAccess() is true on the dispatcher's thread and nowhere else.
//
// Work must therefore release what it holds in its destructor. An awaiting coroutine does: one whose
// dispatcher refuses it, or drops it unrun, fails its co_await with E_UNEXPECTED on a pool thread, so that
// code written for the UI thread never runs on another thread and no coroutine waits for ever.
class CoreDispatcher : public std::enable_shared_from_this<CoreDispatcher> {
public:
    virtual ~CoreDispatcher() = default;

    virtual bool RunAsync(std::function<void()> work) = 0;
    virtual bool HasThreadAccess() const = 0;

    // The dispatcher whose thread this is, or null on pool and other threads.
    static std::shared_ptr<CoreDispatcher> ForCurrentThread();

protected:
    static void SetForCurrentThread(const std::shared_ptr<CoreDispatcher>& dispatcher);
};

}  // namespace platform
