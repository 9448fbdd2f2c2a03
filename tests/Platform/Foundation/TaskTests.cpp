#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Foundation/Task.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "Platform/Threading/ManualResetEvent.h"
#include "Platform/Threading/ThreadDispatcher.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

Task<int> Immediate(int value) {
    co_return value;
}

Task<int> AfterSignal(ManualResetEvent& signal, int value) {
    co_await signal;
    co_return value;
}

Task<void> Throws(int32_t code) {
    co_await ResumeBackground();
    throw PlatformError(code, "failed in the background");
}

Task<std::thread::id> ThreadAfter(Task<int> inner) {
    co_await std::move(inner);
    co_return std::this_thread::get_id();
}

}  // namespace

TEST(Task, StartsEagerlyAndRunsToTheFirstSuspension) {
    std::atomic<int> steps{0};
    ManualResetEvent signal;
    auto body = [&]() -> Task<void> {
        steps = 1;
        co_await signal;
        steps = 2;
    };
    auto task = body();
    EXPECT_EQ(steps, 1);  // before anyone awaits it
    EXPECT_FALSE(task.IsCompleted());
    signal.Set();
    task.Get();
    EXPECT_EQ(steps, 2);
}

TEST(Task, ResultAndExceptionReachTheAwaiter) {
    EXPECT_EQ(Immediate(42).Get(), 42);

    auto outer = []() -> Task<int32_t> {
        try {
            co_await Throws(E_BOUNDS);
        } catch (const PlatformError& error) {
            co_return error.code();
        }
        co_return 0;
    };
    EXPECT_EQ(outer().Get(), E_BOUNDS);
    EXPECT_THROW(Throws(E_FAIL).Get(), PlatformError);
}

TEST(Task, DroppedTaskStillRunsToItsEnd) {
    ManualResetEvent signal, finished;
    auto body = [&]() -> Task<void> {
        co_await signal;
        co_await ResumeBackground();
        finished.Set();
    };
    { auto dropped = body(); }
    signal.Set();
    EXPECT_TRUE(finished.Wait(5s));
}

TEST(Task, UnobservedExceptionsAreReportedAndNeverEndTheProcess) {
    testing::internal::CaptureStderr();
    {
        auto failing = []() -> Task<void> {
            throw PlatformError(E_FAIL, "nobody listens");
            co_return;
        };
        auto dropped = failing();
    }
    auto detached = []() -> FireAndForget {
        throw PlatformError(E_UNEXPECTED, "fire and forget");
        co_return;
    };
    detached();
    std::string output = testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("nobody listens"), std::string::npos) << output;
    EXPECT_NE(output.find("fire and forget"), std::string::npos) << output;
}

TEST(Task, AwaitingOnADispatcherThreadResumesThere) {
    auto dispatcher = ThreadDispatcher::Create();
    ManualResetEvent signal;
    std::atomic<bool> onDispatcherAfterAwait{false};
    ManualResetEvent done;

    dispatcher->RunAsync([&] {
        [](auto dispatcher, ManualResetEvent& signal, std::atomic<bool>& result,
           ManualResetEvent& done) -> FireAndForget {
            // Completed on a pool thread, yet we come back to the dispatcher.
            co_await AfterSignal(signal, 1);
            result = dispatcher->HasThreadAccess();
            done.Set();
        }(dispatcher, signal, onDispatcherAfterAwait, done);
    });
    std::this_thread::sleep_for(10ms);
    signal.Set();
    ASSERT_TRUE(done.Wait(5s));
    EXPECT_TRUE(onDispatcherAfterAwait);
}

TEST(Task, AwaitingElsewhereResumesOnTheCompletingThread) {
    TaskCompletionSource<int> source;
    auto awaiting = [](Task<int> inner) -> Task<std::thread::id> {
        co_await ResumeBackground();
        co_return co_await ThreadAfter(std::move(inner));
    }(source.GetTask());

    std::thread::id completer;
    std::thread thread([&] {
        completer = std::this_thread::get_id();
        std::this_thread::sleep_for(20ms);
        source.TrySetResult(5);
    });
    thread.join();
    EXPECT_EQ(awaiting.Get(), completer);
}

TEST(Task, CompletionSourceTakesTheFirstCompletionOnly) {
    TaskCompletionSource<std::string> source;
    EXPECT_TRUE(source.TrySetResult(std::string("first")));
    EXPECT_FALSE(source.TrySetResult(std::string("second")));
    EXPECT_FALSE(source.TrySetException(std::make_exception_ptr(PlatformError(E_FAIL))));
    EXPECT_EQ(source.GetTask().Get(), "first");

    TaskCompletionSource<void> failing;
    failing.TrySetException(std::make_exception_ptr(PlatformError(E_POINTER)));
    try {
        failing.GetTask().Get();
        FAIL() << "expected an error";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.code(), E_POINTER);
    }
}

TEST(Task, AnAbandonedCompletionSourceFailsItsTaskInsteadOfHanging) {
    std::optional<TaskCompletionSource<int>> source(std::in_place);
    auto task = source->GetTask();
    auto copy = *source;
    source.reset();
    EXPECT_FALSE(task.IsCompleted());  // a copy still holds the completion
    { auto dropped = std::move(copy); }
    try {
        task.Get();
        FAIL() << "expected an error";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.code(), E_UNEXPECTED);
    }
}

TEST(Task, ResumeAfterWaitsAtLeastItsDuration) {
    auto timed = []() -> Task<std::chrono::steady_clock::duration> {
        auto start = std::chrono::steady_clock::now();
        co_await ResumeAfter(50ms);
        co_return std::chrono::steady_clock::now() - start;
    };
    EXPECT_GE(timed().Get(), 50ms);
}

TEST(Task, ResumeForegroundRunsOnlyWhenTheDispatcherIsPumped) {
    auto dispatcher = ManualDispatcher::Create();
    std::atomic<bool> ran{false};
    std::atomic<bool> onDispatcher{false};
    // A named coroutine lambda: its captures must outlive the suspended coroutine.
    auto body = [&]() -> Task<void> {
        co_await ResumeBackground();
        co_await ResumeForeground(dispatcher);
        onDispatcher = dispatcher->HasThreadAccess();
        ran = true;
    };
    auto hop = body();
    ASSERT_TRUE(dispatcher->RunUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onDispatcher);

    dispatcher->Shutdown();
    auto refusing = [&]() -> Task<void> { co_await ResumeForeground(dispatcher); };
    EXPECT_THROW(refusing().Get(), PlatformError);
}

TEST(Task, ResumeForegroundMayCarryTheLastReferenceToItsDispatcher) {
    // The coroutine ends on the dispatcher's thread and drops the only reference to it, possibly while
    // the thread that queued it is still inside RunAsync.
    for (int i = 0; i < 200; ++i) {
        ManualResetEvent done;
        auto hop = [](std::shared_ptr<CoreDispatcher> dispatcher, ManualResetEvent& done) -> FireAndForget {
            co_await ResumeBackground();
            co_await ResumeForeground(std::move(dispatcher));
            done.Set();
        };
        hop(ThreadDispatcher::Create(), done);
        ASSERT_TRUE(done.Wait(5s));
    }
}

TEST(ManualResetEvent, ReleasesEveryAwaiterAndBlockingWaiter) {
    ManualResetEvent event;
    std::atomic<int> resumed{0};
    auto waiter = [&]() -> Task<void> {
        co_await event;
        ++resumed;
    };
    auto first = waiter();
    auto second = waiter();
    EXPECT_FALSE(event.Wait(10ms));
    event.Set();
    first.Get();
    second.Get();
    EXPECT_EQ(resumed, 2);
    event.Reset();
    EXPECT_FALSE(event.IsSet());
}

TEST(Task, AnAwaiterIsNeverResumedInsideTheDropOfItsLastCompletionSource) {
    std::optional<TaskCompletionSource<int>> source(std::in_place);
    auto awaiting = [](Task<int> task) -> Task<std::thread::id> {
        try {
            co_await std::move(task);
        } catch (const PlatformError&) {
        }
        co_return std::this_thread::get_id();
    }(source->GetTask());

    std::thread::id dropper;
    std::thread thread([&] {
        dropper = std::this_thread::get_id();
        source.reset();  // as the bus thread drops a pending call's callback
    });
    thread.join();
    ASSERT_TRUE(awaiting.WaitFor(5s));
    EXPECT_NE(awaiting.Get(), dropper);
}

TEST(Task, AnAwaitTheDispatcherCannotTakeFailsOnAPoolThreadInsteadOfRunningElsewhereOrLeaking) {
    enum class Await { CompletedTask, ResumeForeground };
    enum class Refusal { ShutDownBefore, DroppedFromTheQueue };
    for (auto [await, refusal] :
         std::vector<std::pair<Await, Refusal>>{{Await::CompletedTask, Refusal::ShutDownBefore},
                                                {Await::CompletedTask, Refusal::DroppedFromTheQueue},
                                                {Await::ResumeForeground, Refusal::ShutDownBefore},
                                                {Await::ResumeForeground, Refusal::DroppedFromTheQueue}}) {
        SCOPED_TRACE(
            std::string(await == Await::CompletedTask ? "awaiting a task" : "ResumeForeground") +
            (refusal == Refusal::ShutDownBefore ? ", shut down before" : ", dropped from the queue"));
        auto dispatcher = ManualDispatcher::Create();  // this thread's dispatcher
        TaskCompletionSource<int> source;
        struct Outcome {
            int32_t code = 0;
            bool onDispatcher = true;
            std::thread::id thread;
        };
        auto body = [](std::shared_ptr<ManualDispatcher> dispatcher, Task<int> task,
                       bool foreground) -> Task<Outcome> {
            Outcome outcome;
            try {
                if (foreground) {
                    co_await ResumeBackground();
                    co_await ResumeForeground(dispatcher);
                } else {
                    co_await std::move(task);
                }
            } catch (const PlatformError& error) {
                outcome.code = error.code();
            }
            outcome.onDispatcher = dispatcher->HasThreadAccess();
            outcome.thread = std::this_thread::get_id();
            co_return outcome;
        };
        const bool foreground = await == Await::ResumeForeground;
        if (refusal == Refusal::ShutDownBefore) dispatcher->Shutdown();
        auto awaiting = body(dispatcher, source.GetTask(), foreground);
        std::thread completer([&] { source.TrySetResult(1); });
        const auto completerId = completer.get_id();
        completer.join();
        if (refusal == Refusal::DroppedFromTheQueue) {
            for (int i = 0; i < 5000 && dispatcher->PendingCount() == 0; ++i)
                std::this_thread::sleep_for(1ms);
            ASSERT_EQ(dispatcher->PendingCount(), 1u);
            dispatcher->Shutdown();
        }
        ASSERT_TRUE(awaiting.WaitFor(5s));
        auto outcome = awaiting.Get();
        EXPECT_EQ(outcome.code, E_UNEXPECTED);
        EXPECT_FALSE(outcome.onDispatcher);
        EXPECT_NE(outcome.thread, std::this_thread::get_id());
        EXPECT_NE(outcome.thread, completerId);
    }
}
