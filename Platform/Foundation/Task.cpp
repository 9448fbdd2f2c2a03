#include "Platform/Foundation/Task.h"

#include <cstdio>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ThreadPool.h"
#include "Platform/Threading/ThreadPoolTimer.h"

namespace platform {

namespace detail {

void ResumeContinuation(Continuation continuation) {
    if (continuation.dispatcher && !continuation.dispatcher->HasThreadAccess()) {
        auto handle = continuation.handle;
        if (continuation.dispatcher->RunAsync([handle] { handle.resume(); })) return;
        // The awaiting thread's dispatcher is gone; finishing here beats leaving the coroutine suspended.
    }
    continuation.handle.resume();
}

std::exception_ptr AbandonedError() {
    return std::make_exception_ptr(
        PlatformError(E_UNEXPECTED, "the operation was abandoned before it completed"));
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

bool ResumeForeground::await_suspend(std::coroutine_handle<> handle) {
    // Once queued, the coroutine may run, finish and free this awaiter (and its reference to the
    // dispatcher) before RunAsync returns: the local reference keeps the dispatcher alive meanwhile, and
    // nothing here touches a member after a successful hand-over.
    std::shared_ptr<CoreDispatcher> dispatcher = dispatcher_;
    if (dispatcher && dispatcher->RunAsync([handle] { handle.resume(); })) return true;
    refused_ = true;
    return false;
}

void ResumeForeground::await_resume() const {
    if (refused_) throw PlatformError(E_UNEXPECTED, "the dispatcher has shut down");
}

void ResumeAfter::await_suspend(std::coroutine_handle<> handle) const {
    ThreadPoolTimer::CreateTimer([handle] { handle.resume(); }, delay_);
}

}  // namespace platform
