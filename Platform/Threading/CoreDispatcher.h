#pragma once

#include <functional>
#include <memory>

namespace platform {

// The executor of one UI thread. Work given to RunAsync runs on that thread, in order. A dispatcher
// registers itself as the current dispatcher of its thread, which is how an awaited Task knows to come
// back to the thread that awaited it.
class CoreDispatcher : public std::enable_shared_from_this<CoreDispatcher> {
public:
    virtual ~CoreDispatcher() = default;

    // Queues work; false when the dispatcher has shut down and will run nothing more.
    virtual bool RunAsync(std::function<void()> work) = 0;
    virtual bool HasThreadAccess() const = 0;

    // The dispatcher whose thread this is, or null on pool and other threads.
    static std::shared_ptr<CoreDispatcher> ForCurrentThread();

protected:
    static void SetForCurrentThread(const std::shared_ptr<CoreDispatcher>& dispatcher);
};

}  // namespace platform
