#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Platform/Threading/DispatcherTimer.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "Platform/Threading/ManualResetEvent.h"
#include "Platform/Threading/ThreadDispatcher.h"

using namespace platform;
using namespace std::chrono_literals;

TEST(ThreadDispatcher, RunsWorkInOrderOnItsOwnThread) {
    auto dispatcher = ThreadDispatcher::Create();
    EXPECT_FALSE(dispatcher->HasThreadAccess());
    std::vector<int> order;
    std::atomic<bool> allOnThread{true};
    ManualResetEvent done;
    for (int i = 0; i < 100; ++i) {
        dispatcher->RunAsync([&, i] {
            if (!dispatcher->HasThreadAccess() || CoreDispatcher::ForCurrentThread() != dispatcher) {
                allOnThread = false;
            }
            order.push_back(i);
            if (i == 99) done.Set();
        });
    }
    ASSERT_TRUE(done.Wait(5s));
    EXPECT_TRUE(allOnThread);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(ThreadDispatcher, MayBeReleasedByItsOwnWork) {
    auto dispatcher = ThreadDispatcher::Create();
    ManualResetEvent go, done;
    auto* raw = dispatcher.get();
    raw->RunAsync([&go] { go.Wait(5s); });
    raw->RunAsync([owned = std::move(dispatcher), &done]() mutable {
        owned.reset();  // the last reference goes on the dispatcher's own thread
        done.Set();
    });
    go.Set();  // from here on only the dispatcher's thread touches it
    EXPECT_TRUE(done.Wait(5s));
}

TEST(ManualDispatcher, RunsOnlyWhenPumpedAndRefusesAfterShutdown) {
    auto dispatcher = ManualDispatcher::Create();
    EXPECT_EQ(CoreDispatcher::ForCurrentThread(), dispatcher);
    int ran = 0;
    dispatcher->RunAsync([&] { ++ran; });
    dispatcher->RunAsync([&] { dispatcher->RunAsync([&] { ++ran; }); });
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(dispatcher->RunPending(), 3u);
    EXPECT_EQ(ran, 2);
    dispatcher->Shutdown();
    EXPECT_FALSE(dispatcher->RunAsync([&] { ++ran; }));
}

TEST(DispatcherTimer, TicksOnTheDispatcherUntilStopped) {
    auto dispatcher = ManualDispatcher::Create();
    DispatcherTimer timer(dispatcher);
    timer.Interval(5ms);
    int ticks = 0;
    bool allOnThread = true;
    timer.Tick([&] {
        ++ticks;
        allOnThread = allOnThread && dispatcher->HasThreadAccess();
        if (ticks == 3) timer.Stop();
    });
    timer.Start();
    EXPECT_TRUE(timer.IsEnabled());
    ASSERT_TRUE(dispatcher->RunUntil([&] { return ticks >= 3; }));
    EXPECT_FALSE(timer.IsEnabled());
    // Stopped on the dispatcher's thread: no tick runs afterwards, even one already queued.
    dispatcher->RunUntil([] { return false; }, 50ms);
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(allOnThread);
}

TEST(Dispatchers, ShuttingDownDestroysTheQueuedWorkUnrunAndRefusesMore) {
    auto probe = [](auto ran, auto destroyed) {
        // Counts its own destruction once the last copy is gone.
        auto marker = std::shared_ptr<void>(nullptr, [destroyed](void*) { ++*destroyed; });
        return [ran, marker] { ++*ran; };
    };
    for (bool threadOwning : {false, true}) {
        SCOPED_TRACE(threadOwning ? "ThreadDispatcher" : "ManualDispatcher");
        auto ran = std::make_shared<std::atomic<int>>(0);
        auto destroyed = std::make_shared<std::atomic<int>>(0);
        std::shared_ptr<CoreDispatcher> dispatcher;
        std::function<void()> shutDown;
        ManualResetEvent release;
        if (threadOwning) {
            auto owning = ThreadDispatcher::Create();
            owning->RunAsync([&release] { release.Wait(5s); });  // holds the thread while work queues up
            shutDown = [owning, &release] {
                owning->Shutdown();
                release.Set();
            };
            dispatcher = owning;
        } else {
            auto manual = ManualDispatcher::Create();
            shutDown = [manual] { manual->Shutdown(); };
            dispatcher = manual;
        }
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(dispatcher->RunAsync(probe(ran, destroyed)));
        shutDown();
        EXPECT_EQ(destroyed->load(), 3);
        EXPECT_FALSE(dispatcher->RunAsync(probe(ran, destroyed)));
        EXPECT_EQ(destroyed->load(), 4);
        EXPECT_EQ(ran->load(), 0);
    }
}
