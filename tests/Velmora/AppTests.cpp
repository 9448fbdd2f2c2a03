#include <gtest/gtest.h>

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Platform/Foundation/Task.h"
#include "Platform/GameBar/GameBarHost.h"
#include "Platform/GameBar/GameBarWidget.h"
#include "Platform/Threading/ThreadPool.h"
#include "Platform/Ui/Frame.h"
#include "Platform/Ui/PageRegistry.h"
#include "Platform/Ui/UiDispatcher.h"
#include "Platform/Ui/Window.h"
#include "Velmora/App.h"
#include "Velmora/ModeCheck.h"
#include "Velmora/PageTypes.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPage.h"

using namespace platform;
using testsupport::TestPage;
using velmora::App;
using velmora::kNativePageType;
using velmora::kWebViewPageType;

namespace {

constexpr const char* kLaunch = "ms-gamebarwidget:launch";

// The shell as the process runs it, minus the bus: an App with test pages under both names, the host
// turning URIs into activations, and a local folder of the test's own for the mode file.
class AppTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
        dispatcher = UiDispatcher::Create();
    }

    void TearDown() override {
        host.reset();
        app.reset();
        Window::ReleaseAll();
        dispatcher->Shutdown();
    }

    void Start(std::shared_ptr<PageRegistry> pages = nullptr) {
        if (!pages) {
            pages = std::make_shared<PageRegistry>();
            pages->Register(kNativePageType, TestPage::Factory(kNativePageType));
            pages->Register(kWebViewPageType, TestPage::Factory(kWebViewPageType));
        }
        app = std::make_shared<App>(pages);
        host = std::make_unique<GameBarHost>(app);
    }

    std::shared_ptr<TestPage> Shown(const std::shared_ptr<Page>& page) {
        return std::dynamic_pointer_cast<TestPage>(page);
    }

    testsupport::TempDir data;
    std::shared_ptr<UiDispatcher> dispatcher;
    std::shared_ptr<App> app;
    std::unique_ptr<GameBarHost> host;
};

}  // namespace

TEST_F(AppTest, ALaunchShowsTheChosenPageInAFrame) {
    struct Case {
        const char* modeFile;  // null: no file
        const char* shown;
    };
    for (const Case& c : {Case{nullptr, kNativePageType}, Case{"web_view\r\n", kWebViewPageType},
                          Case{"Web_View", kNativePageType}}) {
        if (c.modeFile) testsupport::WriteFile(velmora::ModeFilePath(), c.modeFile);
        Start();
        ASSERT_EQ(host->ActivateUri(kLaunch), "");
        auto window = Window::Shown();
        ASSERT_TRUE(window) << c.shown;
        bool web = std::string(c.shown) == kWebViewPageType;
        auto page = Shown(web ? app->WebViewPage() : app->NativePage());
        ASSERT_TRUE(page) << c.shown;
        EXPECT_FALSE(web ? app->NativePage() : app->WebViewPage());
        EXPECT_EQ(page->TypeName(), c.shown);
        EXPECT_EQ(window->Content()->Content(), page);
        ASSERT_TRUE(app->Widget());
        EXPECT_EQ(page->Widget(), app->Widget());
        EXPECT_EQ(page->Item()->window(), &window->CoreWindow());
        window->Close();
        TearDown();
        SetUp();
    }
}

TEST_F(AppTest, OtherActivationsShowNothing) {
    Start();
    for (const std::string uri : {"ms-gamebarwidgetx:launch", "ms-gamebar:launch", "corvana:open"}) {
        EXPECT_EQ(host->ActivateUri(uri), "") << uri;
        EXPECT_FALSE(Window::Shown()) << uri;
        EXPECT_FALSE(app->Widget()) << uri;
    }
    EXPECT_EQ(host->ActivateLaunch(), "");
    EXPECT_FALSE(Window::Shown());
    EXPECT_FALSE(app->NativePage());
}

TEST_F(AppTest, ALaunchWhileOpenChangesNothing) {
    Start();
    ASSERT_EQ(host->ActivateUri(kLaunch), "");
    auto page = app->NativePage();
    auto widget = app->Widget();
    auto window = Window::Shown();
    int created = TestPage::CreatedCount();

    ASSERT_EQ(host->ActivateUri(kLaunch), "");
    EXPECT_EQ(app->NativePage(), page);
    EXPECT_EQ(app->Widget(), widget);
    EXPECT_EQ(Window::Shown(), window);
    EXPECT_EQ(window->Content()->Content(), page);
    EXPECT_EQ(TestPage::CreatedCount(), created);
}

TEST_F(AppTest, ClosingShutsDownTheShownPageOnceAndClearsTheMembers) {
    Start();
    ASSERT_EQ(host->ActivateUri(kLaunch), "");
    auto page = Shown(app->NativePage());
    ASSERT_TRUE(page);
    std::weak_ptr<GameBarWidget> widget = app->Widget();

    Window::Shown()->Close();
    EXPECT_EQ(page->ShutdownCount(), 1);
    EXPECT_FALSE(app->NativePage());
    EXPECT_FALSE(app->WebViewPage());
    EXPECT_FALSE(app->Widget());
    EXPECT_FALSE(Window::Shown());

    // Nothing else holds the page or the widget once the closed window is released.
    std::weak_ptr<TestPage> weakPage = page;
    page.reset();
    Window::ReleaseClosed();
    EXPECT_TRUE(weakPage.expired());
    EXPECT_TRUE(widget.expired());
}

TEST_F(AppTest, ALaunchAfterACloseBuildsEverythingAnew) {
    Start();
    ASSERT_EQ(host->ActivateUri(kLaunch), "");
    std::weak_ptr<Page> firstPage = app->NativePage();
    std::weak_ptr<GameBarWidget> firstWidget = app->Widget();
    QQuickWindow* firstWindow = &Window::Shown()->CoreWindow();
    Window::Shown()->Close();

    ASSERT_EQ(host->ActivateUri(kLaunch), "");
    auto window = Window::Shown();
    ASSERT_TRUE(window);
    EXPECT_NE(&window->CoreWindow(), firstWindow);
    ASSERT_TRUE(app->NativePage());
    EXPECT_TRUE(firstPage.expired());
    EXPECT_TRUE(firstWidget.expired());
    EXPECT_EQ(Shown(app->NativePage())->Widget(), app->Widget());

    // And that window closes like the first.
    auto page = Shown(app->NativePage());
    window->Close();
    EXPECT_EQ(page->ShutdownCount(), 1);
    EXPECT_FALSE(app->NativePage());
}

TEST_F(AppTest, APageThatCannotBeMadeFailsTheNavigation) {
    struct Case {
        const char* name;
        PageFactory factory;  // empty: no page registered under the name
    };
    const std::vector<Case> cases = {
        {"not registered", {}},
        {"constructor throws",
         [](const PageContext&) -> std::shared_ptr<Page> {
             throw std::runtime_error("the page's constructor failed");
         }},
        {"constructor throws something else", [](const PageContext&) -> std::shared_ptr<Page> { throw 42; }},
        {"no page", [](const PageContext&) -> std::shared_ptr<Page> { return nullptr; }},
    };
    for (const auto& c : cases) {
        auto pages = std::make_shared<PageRegistry>();
        if (c.factory) pages->Register(kNativePageType, c.factory);
        Start(pages);
        EXPECT_EQ(host->ActivateUri(kLaunch), "0x80004005 Failed to load Page Velmora.CorvanaWidgetNative")
            << c.name;
        EXPECT_FALSE(Window::Shown()) << c.name;
        EXPECT_FALSE(app->NativePage()) << c.name;

        // The process goes on: a working page registered later shows on the next launch.
        pages->Register(kNativePageType, TestPage::Factory(kNativePageType));
        if (!c.factory) {
            EXPECT_EQ(host->ActivateUri(kLaunch), "") << c.name;
            EXPECT_TRUE(Window::Shown()) << c.name;
        }
        TearDown();
        SetUp();
    }
}

namespace {

// A page whose start-up continues on the pool and comes back to the UI thread to touch the page, the way
// the real pages connect to the desktop app.
class SlowStartingPage final : public Page, public std::enable_shared_from_this<SlowStartingPage> {
public:
    struct Probe {
        TaskCompletionSource<void> release;
        std::atomic<bool> touchedPage{false};
        std::atomic<bool> finished{false};
    };

    SlowStartingPage(const PageContext& context, std::shared_ptr<Probe> probe)
        : item_(std::make_unique<QQuickItem>()), probe_(std::move(probe)) {
        (void)context;
    }

    void Start(std::shared_ptr<CoreDispatcher> dispatcher) {
        StartAsync(weak_from_this(), dispatcher, probe_);
    }

    QQuickItem* Item() const override { return item_.get(); }
    void Shutdown() override {}

private:
    static FireAndForget StartAsync(std::weak_ptr<SlowStartingPage> weak,
                                    std::shared_ptr<CoreDispatcher> dispatcher,
                                    std::shared_ptr<Probe> probe) {
        co_await ResumeBackground();
        co_await probe->release.GetTask();
        try {
            co_await ResumeForeground(dispatcher);
            if (auto self = weak.lock()) probe->touchedPage = true;
        } catch (...) {
        }
        probe->finished = true;
    }

    std::unique_ptr<QQuickItem> item_;
    std::shared_ptr<Probe> probe_;
};

}  // namespace

TEST_F(AppTest, ClosingDuringAPagesStartUpLeavesNoWorkTouchingIt) {
    auto probe = std::make_shared<SlowStartingPage::Probe>();
    auto pages = std::make_shared<PageRegistry>();
    pages->Register(kNativePageType, [probe](const PageContext& context) {
        auto page = std::make_shared<SlowStartingPage>(context, probe);
        page->Start(context.dispatcher);
        return page;
    });
    Start(pages);
    ASSERT_EQ(host->ActivateUri(kLaunch), "");
    std::weak_ptr<Page> page = app->NativePage();
    Window::Shown()->Close();
    Window::ReleaseClosed();
    EXPECT_TRUE(page.expired());

    probe->release.TrySetResult();
    ASSERT_TRUE(QTest::qWaitFor([&] { return probe->finished.load(); }, 10000));
    EXPECT_FALSE(probe->touchedPage);
}
