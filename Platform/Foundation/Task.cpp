#include "Platform/Foundation/Task.h"

#include <atomic>
#include <cstdio>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ThreadPool.h"
#include "Platform/Threading/ThreadPoolTimer.h"

namespace platform {

namespace detail {

namespace {

// One hand-over of a coroutine to a dispatcher. Copies of the queued work share it; if the last copy dies
// without having run (the dispatcher refused it, or shut down and destroyed its queue), the coroutine is
// told so and resumes on the pool instead of being leaked.
class Delivery {
public:
    Delivery(std::coroutine_handle<> handle, bool* undelivered)
        : handle_(handle), undelivered_(undelivered) {}
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;
    ~Delivery() {
        if (ran_.load(std::memory_order_acquire)) return;
        *undelivered_ = true;
        ThreadPool::Default().Post([handle = handle_] { handle.resume(); });
    }
    void Run() {
        ran_.store(true, std::memory_order_release);
        handle_.resume();
    }

private:
    std::coroutine_handle<> handle_;
    bool* undelivered_;
    std::atomic<bool> ran_{false};
};

}  // namespace

void ResumeOn(CoreDispatcher& dispatcher, std::coroutine_handle<> handle, bool* undelivered) {
    auto delivery = std::make_shared<Delivery>(handle, undelivered);
    dispatcher.RunAsync([delivery] { delivery->Run(); });
}

void ResumeContinuation(Continuation continuation) {
    if (continuation.dispatcher && !continuation.dispatcher->HasThreadAccess()) {
        ResumeOn(*continuation.dispatcher, continuation.handle, continuation.undelivered);
        return;
    }
    continuation.handle.resume();
}

void PostToPool(std::function<void()> work) {
    ThreadPool::Default().Post(std::move(work));
}

std::exception_ptr AbandonedError() {
    return std::make_exception_ptr(
        PlatformError(E_UNEXPECTED, "the operation was abandoned before it completed"));
}

std::exception_ptr UndeliveredError() {
    return std::make_exception_ptr(
        PlatformError(E_UNEXPECTED, "the dispatcher shut down before the operation could resume on it"));
}

void ReportUnobservedException(std::exception_ptr error, std::string_view where) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "platform: unhandled exception in %.*s: %s\n", static_cast<int>(where.size()),
                     where.data(), e.what());
    } catch (...) {
        std::fprintf(stderr, "platform: unhandled exception in %.*s\n", static_cast<int>(where.size()),
                     where.data());
    }
}

}  // namespace detail

void ResumeBackground::await_suspend(std::coroutine_handle<> handle) const {
    ThreadPool::Default().Post([handle] { handle.resume(); });
}

void ResumeBlocking::await_suspend(std::coroutine_handle<> handle) const {
    ThreadPool::Blocking().Post([handle] { handle.resume(); });
}

void ResumeForeground::await_suspend(std::coroutine_handle<> handle) {
    // Once queued, the coroutine may run, finish and free this awaiter (and its reference to the
    // dispatcher) before RunAsync returns: the local reference keeps the dispatcher alive meanwhile, and
    // nothing here touches a member after the hand-over.
    std::shared_ptr<CoreDispatcher> dispatcher = dispatcher_;
    if (!dispatcher) {
        refused_ = true;
        ThreadPool::Default().Post([handle] { handle.resume(); });
        return;
    }
    detail::ResumeOn(*dispatcher, handle, &refused_);
}

void ResumeForeground::await_resume() const {
    if (refused_) throw PlatformError(E_UNEXPECTED, "the dispatcher has shut down");
}

void ResumeAfter::await_suspend(std::coroutine_handle<> handle) const {
    ThreadPoolTimer::CreateTimer([handle] { handle.resume(); }, delay_);
}

}  // namespace platform
