#pragma once

#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "Platform/Threading/CoreDispatcher.h"

namespace platform {

template <typename T>
class Task;

namespace detail {

// Where an awaiting coroutine continues: on the dispatcher it awaited from, or else on whichever thread
// completes the awaited work. When that dispatcher refuses the coroutine or destroys it unrun (it has shut
// down), *undelivered is set and the coroutine continues on a pool thread instead, so that code written for
// the UI thread never runs on another one.
struct Continuation {
    std::coroutine_handle<> handle;
    std::shared_ptr<CoreDispatcher> dispatcher;
    bool* undelivered = nullptr;
};

void ResumeContinuation(Continuation continuation);
// Queues the coroutine on the dispatcher, or, if it never runs there, sets *undelivered and resumes it on a
// pool thread.
void ResumeOn(CoreDispatcher& dispatcher, std::coroutine_handle<> handle, bool* undelivered);
void PostToPool(std::function<void()> work);
void ReportUnobservedException(std::exception_ptr error, std::string_view where) noexcept;
std::exception_ptr AbandonedError();
std::exception_ptr UndeliveredError();

template <typename T>
using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

// The completion shared by a Task, the coroutine (or completion source) producing it and its awaiter.
template <typename T>
class TaskState {
public:
    ~TaskState() {
        if (error_ && !observed_) ReportUnobservedException(error_, "detached task");
    }

    // First completion wins; later ones are refused.
    bool TryComplete(std::optional<Stored<T>> value, std::exception_ptr error) {
        std::optional<Continuation> continuation;
        {
            std::lock_guard lock(mutex_);
            if (done_) return false;
            value_ = std::move(value);
            error_ = std::move(error);
            done_ = true;
            continuation.swap(continuation_);
        }
        completed_.notify_all();
        if (continuation) ResumeContinuation(std::move(*continuation));
        return true;
    }

    bool IsDone() const {
        std::lock_guard lock(mutex_);
        return done_;
    }

    // False when already complete: the awaiter then goes on without suspending.
    bool SetContinuation(Continuation continuation) {
        std::lock_guard lock(mutex_);
        if (done_) return false;
        continuation_ = std::move(continuation);
        return true;
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        completed_.wait(lock, [&] { return done_; });
    }

    template <typename Rep, typename Period>
    bool WaitFor(std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock lock(mutex_);
        return completed_.wait_for(lock, timeout, [&] { return done_; });
    }

    // The awaiter could not be resumed where it awaited: its result is dropped, and so is any error.
    void Discard() {
        std::lock_guard lock(mutex_);
        observed_ = true;
    }

    // Call once the state is done.
    Stored<T> TakeResult() {
        std::lock_guard lock(mutex_);
        observed_ = true;
        if (error_) std::rethrow_exception(error_);
        return std::move(*value_);
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable completed_;
    bool done_ = false;
    bool observed_ = false;
    std::optional<Stored<T>> value_;
    std::exception_ptr error_;
    std::optional<Continuation> continuation_;
};

template <typename T>
struct PromiseBase {
    std::shared_ptr<TaskState<T>> state = std::make_shared<TaskState<T>>();
    std::optional<Stored<T>> value;
    std::exception_ptr error;

    Task<T> get_return_object() noexcept;
    std::suspend_never initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <typename Promise>
        void await_suspend(std::coroutine_handle<Promise> handle) noexcept {
            auto& promise = handle.promise();
            auto state = std::move(promise.state);
            auto value = std::move(promise.value);
            auto error = std::move(promise.error);
            // The frame goes first, so the coroutine's locals are released before anyone continues.
            handle.destroy();
            state->TryComplete(std::move(value), std::move(error));
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename T>
struct Promise : PromiseBase<T> {
    template <typename U>
    void return_value(U&& result) {
        this->value.emplace(std::forward<U>(result));
    }
};

template <>
struct Promise<void> : PromiseBase<void> {
    void return_void() { value.emplace(); }
};

}  // namespace detail

// An asynchronous operation. A coroutine returning Task starts at once and runs to its end whether or not
// anyone keeps the Task; an exception that nobody observes is reported on standard error. Awaiting from a
// dispatcher's thread continues on that thread; from any other thread it continues where the work ends.
template <typename T = void>
class [[nodiscard]] Task {
public:
    using promise_type = detail::Promise<T>;
    using State = detail::TaskState<T>;

    explicit Task(std::shared_ptr<State> state) : state_(std::move(state)) {}
    Task(Task&&) noexcept = default;
    Task& operator=(Task&&) noexcept = default;

    bool IsCompleted() const { return state_->IsDone(); }

    // Blocks the calling thread. Never call it on a thread the operation needs to finish.
    T Get() {
        state_->Wait();
        if constexpr (std::is_void_v<T>) {
            state_->TakeResult();
        } else {
            return state_->TakeResult();
        }
    }

    template <typename Rep, typename Period>
    bool WaitFor(std::chrono::duration<Rep, Period> timeout) {
        return state_->WaitFor(timeout);
    }

    struct Awaiter {
        std::shared_ptr<State> state;
        bool undelivered = false;
        bool await_ready() const { return state->IsDone(); }
        bool await_suspend(std::coroutine_handle<> handle) {
            return state->SetContinuation({handle, CoreDispatcher::ForCurrentThread(), &undelivered});
        }
        T await_resume() {
            if (undelivered) {
                state->Discard();
                std::rethrow_exception(detail::UndeliveredError());
            }
            if constexpr (std::is_void_v<T>) {
                state->TakeResult();
            } else {
                return state->TakeResult();
            }
        }
    };
    Awaiter operator co_await() && { return Awaiter{std::move(state_)}; }
    Awaiter operator co_await() & { return Awaiter{state_}; }

private:
    std::shared_ptr<State> state_;
};

namespace detail {
template <typename T>
Task<T> PromiseBase<T>::get_return_object() noexcept {
    return Task<T>(state);
}
}  // namespace detail

// Binds a Task to a completion that some other code (a reply callback, a timer) delivers. Copies share
// one completion, so a callback may carry a copy while the caller keeps the Task. When the last copy goes
// without completing (a callback dropped unrun), the Task fails with E_UNEXPECTED instead of never ending;
// that failure is delivered from the pool, as the copy may die on a thread that must never run the
// awaiting code (the bus thread dropping a pending call).
template <typename T = void>
class TaskCompletionSource {
public:
    Task<T> GetTask() const { return Task<T>(source_->state); }

    template <typename U = T>
    requires(!std::is_void_v<U>) bool TrySetResult(U result) const {
        return source_->state->TryComplete(std::move(result), nullptr);
    }
    bool TrySetResult() const requires std::is_void_v<T> {
        return source_->state->TryComplete(std::monostate{}, nullptr);
    }
    bool TrySetException(std::exception_ptr error) const {
        return source_->state->TryComplete(std::nullopt, std::move(error));
    }

private:
    struct Source {
        ~Source() {
            if (state->IsDone()) return;
            detail::PostToPool(
                [state = std::move(state)] { state->TryComplete(std::nullopt, detail::AbandonedError()); });
        }
        std::shared_ptr<detail::TaskState<T>> state = std::make_shared<detail::TaskState<T>>();
    };
    std::shared_ptr<Source> source_ = std::make_shared<Source>();
};

// A coroutine nobody waits for. An exception escaping it is reported on standard error.
struct FireAndForget {
    struct promise_type {
        FireAndForget get_return_object() noexcept { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() noexcept {}
        void unhandled_exception() noexcept {
            detail::ReportUnobservedException(std::current_exception(), "fire-and-forget coroutine");
        }
    };
};

// co_await ResumeBackground(): continue on a pool thread.
struct ResumeBackground {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept {}
};

// co_await ResumeBlocking(): continue on the pool for blocking calls (ThreadPool::Blocking()).
struct ResumeBlocking {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept {}
};

// co_await ResumeForeground(dispatcher): continue on the dispatcher's thread. Throws E_UNEXPECTED, on a
// pool thread, when the dispatcher has shut down or shuts down before it runs the coroutine.
class ResumeForeground {
public:
    explicit ResumeForeground(std::shared_ptr<CoreDispatcher> dispatcher)
        : dispatcher_(std::move(dispatcher)) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle);
    void await_resume() const;

private:
    std::shared_ptr<CoreDispatcher> dispatcher_;
    bool refused_ = false;
};

// co_await ResumeAfter(duration): continue on a pool thread once the duration has passed.
class ResumeAfter {
public:
    explicit ResumeAfter(std::chrono::nanoseconds delay) : delay_(delay) {}
    bool await_ready() const noexcept { return delay_.count() <= 0; }
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept {}

private:
    std::chrono::nanoseconds delay_;
};

}  // namespace platform
