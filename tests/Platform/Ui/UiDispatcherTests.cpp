#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Foundation/Task.h"
#include "Platform/Threading/DispatcherTimer.h"
#include "Platform/Threading/ManualResetEvent.h"
#include "Platform/Threading/ThreadPool.h"
#include "Platform/Ui/UiDispatcher.h"
#include "tests/support/TestHelpers.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

bool OnMainThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Work that records whether it ran; `alive` expires once the work object itself has been destroyed.
struct Probe {
    std::shared_ptr<std::atomic<bool>> ran = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<int> alive;
    std::function<void()> Work() {
        auto captured = std::make_shared<int>(0);
        alive = captured;
        return [ran = ran, captured] { *ran = true; };
    }
};

}  // namespace

TEST(UiDispatcher, RunsWorkFromAnyThreadOnTheMainThreadInItsOrder) {
    auto dispatcher = UiDispatcher::Create();
    EXPECT_EQ(CoreDispatcher::ForCurrentThread(), dispatcher);
    EXPECT_TRUE(dispatcher->HasThreadAccess());

    constexpr int kThreads = 4, kItems = 250;
    std::map<int, std::vector<int>> seen;  // main thread only
    std::atomic<int> ran{0};
    std::atomic<bool> allOnMain{true}, accessOffMain{false};
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            if (dispatcher->HasThreadAccess()) accessOffMain = true;
            for (int i = 0; i < kItems; ++i) {
                EXPECT_TRUE(dispatcher->RunAsync([&, t, i] {
                    if (!OnMainThread() || CoreDispatcher::ForCurrentThread() != dispatcher)
                        allOnMain = false;
                    seen[t].push_back(i);
                    ++ran;
                }));
            }
        });
    }
    for (auto& poster : posters) poster.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran == kThreads * kItems; }, 10000));
    EXPECT_TRUE(allOnMain);
    EXPECT_FALSE(accessOffMain);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<size_t>(kItems));
        for (int i = 0; i < kItems; ++i) EXPECT_EQ(seen[t][i], i) << "thread " << t;
    }
}

TEST(UiDispatcher, AwaitingComesBackToTheMainThread) {
    auto dispatcher = UiDispatcher::Create();
    std::atomic<int> step{0};
    std::atomic<bool> backgroundOffMain{false}, foregroundOnMain{false}, awaitedOnMain{false};
    auto pooled = []() -> Task<int> {
        co_await ResumeBackground();
        co_return 7;
    };
    // A named closure: a coroutine lambda's captures live in the closure, which must outlive the coroutine.
    auto body = [&]() -> FireAndForget {
        co_await ResumeBackground();
        backgroundOffMain = !OnMainThread();
        co_await ResumeForeground(dispatcher);
        foregroundOnMain = OnMainThread();
        // Awaited from the UI thread, a task finishing on the pool continues on the UI thread.
        int value = co_await pooled();
        awaitedOnMain = OnMainThread() && value == 7;
        step = 1;
    };
    body();
    ASSERT_TRUE(QTest::qWaitFor([&] { return step == 1; }, 10000));
    EXPECT_TRUE(backgroundOffMain);
    EXPECT_TRUE(foregroundOnMain);
    EXPECT_TRUE(awaitedOnMain);
}

TEST(UiDispatcher, WorkKeepsItsOrderThroughANestedEventLoop) {
    auto dispatcher = UiDispatcher::Create();
    std::vector<char> order;
    dispatcher->RunAsync([&] {
        order.push_back('A');
        dispatcher->RunAsync([&] { order.push_back('D'); });
        // A nested loop (a modal dialog, say) runs the queued work, in the order it was queued.
        EXPECT_TRUE(QTest::qWaitFor([&] { return order.size() == 4; }, 5000));
        order.push_back('a');
    });
    dispatcher->RunAsync([&] { order.push_back('B'); });
    dispatcher->RunAsync([&] { order.push_back('C'); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 5; }, 10000));
    EXPECT_EQ(std::string(order.begin(), order.end()), "ABCDa");
}

TEST(UiDispatcher, AnExceptionInWorkDoesNotStopTheWorkAfterIt) {
    auto dispatcher = UiDispatcher::Create();
    bool later = false;
    dispatcher->RunAsync([] { throw PlatformError(E_FAIL, "work failed"); });
    dispatcher->RunAsync([&] { later = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return later; }, 10000));
}

TEST(UiDispatcher, ShutdownDestroysQueuedWorkUnrunAndRefusesMore) {
    auto dispatcher = UiDispatcher::Create();
    Probe queued;
    ASSERT_TRUE(dispatcher->RunAsync(queued.Work()));
    dispatcher->Shutdown();
    EXPECT_TRUE(queued.alive.expired());
    Probe refused;
    EXPECT_FALSE(dispatcher->RunAsync(refused.Work()));
    EXPECT_TRUE(refused.alive.expired());
    QCoreApplication::processEvents();
    EXPECT_FALSE(*queued.ran);
    EXPECT_FALSE(*refused.ran);

    // A pool thread switching to the shut-down dispatcher gets an error where it stands.
    std::atomic<int32_t> code{0};
    ManualResetEvent done;
    auto body = [&]() -> FireAndForget {
        co_await ResumeBackground();
        code = testsupport::ErrorCodeOf(
            [&] { [&]() -> Task<void> { co_await ResumeForeground(dispatcher); }().Get(); });
        done.Set();
    };
    body();
    ASSERT_TRUE(done.Wait(5s));
    EXPECT_EQ(code, E_UNEXPECTED);
}

TEST(UiDispatcher, TheEndOfTheEventLoopEndsTheDispatcher) {
    auto dispatcher = UiDispatcher::Create();
    Probe late;
    dispatcher->RunAsync([&] {
        QCoreApplication::quit();
        // Queued after the loop was told to end: it never runs, and is not kept either.
        dispatcher->RunAsync(late.Work());
    });
    QCoreApplication::exec();
    EXPECT_TRUE(dispatcher->IsShutDown());
    EXPECT_TRUE(late.alive.expired());
    EXPECT_FALSE(*late.ran);

    Probe after;
    EXPECT_FALSE(dispatcher->RunAsync(after.Work()));
    std::atomic<bool> refusedOnPool{false};
    ManualResetEvent done;
    ThreadPool::Default().Post([&] {
        refusedOnPool = !dispatcher->RunAsync([] {});
        done.Set();
    });
    ASSERT_TRUE(done.Wait(5s));
    EXPECT_TRUE(refusedOnPool);
}

TEST(UiDispatcher, DispatcherTimerTicksOnTheMainThread) {
    auto dispatcher = UiDispatcher::Create();
    DispatcherTimer timer(dispatcher);
    timer.Interval(5ms);
    int ticks = 0;
    bool allOnMain = true;
    timer.Tick([&] {
        allOnMain = allOnMain && OnMainThread();
        if (++ticks == 3) timer.Stop();
    });
    timer.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks == 3; }, 10000));
    EXPECT_TRUE(allOnMain);
    EXPECT_FALSE(timer.IsEnabled());
}
