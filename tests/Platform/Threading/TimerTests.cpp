#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Platform/Threading/ManualResetEvent.h"
#include "Platform/Threading/ThreadPool.h"
#include "Platform/Threading/ThreadPoolTimer.h"

using namespace platform;
using namespace std::chrono_literals;

TEST(ThreadPoolTimer, FiresOnceAfterItsDelay) {
    ManualResetEvent fired;
    std::atomic<int> calls{0};
    auto start = std::chrono::steady_clock::now();
    auto timer = ThreadPoolTimer::CreateTimer(
        [&] {
            ++calls;
            fired.Set();
        },
        30ms);
    ASSERT_TRUE(fired.Wait(5s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    timer->Cancel();  // after the expiry: harmless
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(calls, 1);
}

TEST(ThreadPoolTimer, CancelBeforeExpiryPreventsTheCallAndReleasesTheHandler) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    std::atomic<int> calls{0};
    auto timer = ThreadPoolTimer::CreateTimer([&calls, token] { ++calls; }, 1h);
    token.reset();
    timer->Cancel();
    // The aborted wait drops the handler and its captures promptly, not an hour later.
    for (int i = 0; i < 500 && !watch.expired(); ++i) std::this_thread::sleep_for(2ms);
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(calls, 0);
}

TEST(ThreadPoolTimer, CancelRacingTheExpiryRunsTheHandlerAtMostOnce) {
    constexpr int kTimers = 500;
    std::vector<std::atomic<int>> calls(kTimers);
    std::vector<std::shared_ptr<ThreadPoolTimer>> timers;
    for (int i = 0; i < kTimers; ++i) {
        timers.push_back(
            ThreadPoolTimer::CreateTimer([&calls, i] { ++calls[i]; }, std::chrono::microseconds(i % 50)));
    }
    std::thread canceller([&] {
        for (auto& timer : timers) timer->Cancel();
    });
    for (auto& timer : timers) timer->Cancel();
    canceller.join();
    std::this_thread::sleep_for(50ms);
    for (int i = 0; i < kTimers; ++i) EXPECT_LE(calls[i].load(), 1) << "timer " << i;
}

TEST(ThreadPoolTimer, DestroyingThePoolWithPendingTimersNeitherHangsNorCrashes) {
    std::vector<std::shared_ptr<ThreadPoolTimer>> survivors;
    std::atomic<int> calls{0};
    {
        ThreadPool pool(2);
        for (int i = 0; i < 50; ++i) {
            survivors.push_back(ThreadPoolTimer::CreateTimer([&] { ++calls; }, 1h, pool));
            ThreadPoolTimer::CreateTimer([&] { ++calls; }, std::chrono::microseconds(i), pool);
        }
    }
    for (auto& timer : survivors) timer->Cancel();  // the pool is gone: must be harmless
    survivors.clear();
    EXPECT_LE(calls.load(), 50);
}

// Threads start as work needs them: work waiting for other work still gets a thread for each, up to the
// pool's size.
TEST(ThreadPool, WorkWaitingForOtherWorkGetsAThreadEachUpToThePoolsSize) {
    ThreadPool pool(4);
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    ManualResetEvent allStarted, allFinished;
    for (int i = 0; i < 4; ++i) {
        pool.Post([&] {
            if (++started == 4) allStarted.Set();
            if (!allStarted.Wait(10s)) return;
            if (++finished == 4) allFinished.Set();
        });
    }
    EXPECT_TRUE(allFinished.Wait(15s));
}

TEST(ThreadPoolTimer, FiresOnAPoolNothingWasPostedToAndMayWaitForWorkItPosts) {
    ThreadPool pool(2);
    ManualResetEvent ran, done;
    auto timer = ThreadPoolTimer::CreateTimer(
        [&] {
            pool.Post([&] { ran.Set(); });
            if (ran.Wait(10s)) done.Set();
        },
        1ms, pool);
    EXPECT_TRUE(done.Wait(15s));
}

// Work that waits for a timer's handler: the timer comes due while the only thread started is busy, and
// must get a thread of its own, whichever of the two was set going first.
TEST(ThreadPoolTimer, ComesDueWhileEveryStartedThreadIsBusyAndGetsAThreadOfItsOwn) {
    for (bool timerFirst : {true, false}) {
        SCOPED_TRACE(timerFirst ? "timer first" : "work first");
        ThreadPool pool(2);
        ManualResetEvent fired, done;
        std::shared_ptr<ThreadPoolTimer> timer;
        auto startTimer = [&] { timer = ThreadPoolTimer::CreateTimer([&] { fired.Set(); }, 1ms, pool); };
        if (timerFirst) startTimer();
        pool.Post([&] {
            if (fired.Wait(10s)) done.Set();
        });
        if (!timerFirst) startTimer();
        EXPECT_TRUE(done.Wait(15s));
    }
}
