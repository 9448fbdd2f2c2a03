#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "Platform/GameBar/GameBarHostControls.h"
#include "Platform/GameBar/GameBarWidget.h"
#include "Platform/GameBar/GameBarWidgetActivatedEventArgs.h"
#include "Platform/Threading/ManualResetEvent.h"
#include "Platform/Threading/ThreadPool.h"
#include "Platform/Ui/Application.h"
#include "Platform/Ui/Frame.h"
#include "Platform/Ui/PageRegistry.h"
#include "Platform/Ui/UiDispatcher.h"
#include "Platform/Ui/Window.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPage.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

constexpr const char* kPageType = "Test.Page";

class TestApplication final : public Application {
public:
    const PageRegistry* PageTypes() const override { return &pages; }
    PageRegistry pages;
};

// A widget window as the shell builds it: a frame with a labelled test page, the widget object over it.
class GameBarWidgetTest : public testing::Test {
protected:
    void SetUp() override {
        dispatcher = UiDispatcher::Create();
        application.pages.Register(kPageType, testsupport::TestPage::Factory(kPageType, "Now playing"));
        window = Window::Current();
        frame = std::make_shared<Frame>();
        window->Content(frame);
        GameBarWidgetActivatedEventArgs args("ms-gamebarwidget:launch", "ms-gamebarwidget", true, controls);
        widget = std::make_shared<GameBarWidget>(args, *window, frame);
        ASSERT_TRUE(frame->Navigate(kPageType, std::any(std::shared_ptr<IGameBarWidget>(widget))));
        page = std::dynamic_pointer_cast<testsupport::TestPage>(frame->Content());
        window->Activate();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window->CoreWindow()));
    }

    void TearDown() override {
        page.reset();
        widget.reset();
        frame.reset();
        window.reset();
        Window::ReleaseAll();
        dispatcher->Shutdown();
    }

    template <typename T>
    T Await(Task<T> task) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return task.IsCompleted(); }, 15000));
        return task.Get();
    }

    // An object of the chrome's markup, by its objectName.
    template <typename T = QQuickItem>
    T* ChromeItem(const char* objectName) {
        for (QQuickItem* child : window->CoreWindow().contentItem()->childItems()) {
            if (child->objectName() == objectName) return qobject_cast<T*>(child);
            if (auto* found = child->findChild<T*>(objectName)) return found;
        }
        return nullptr;
    }

    // The window as a person would see it, saved under the build folder for a look. Grabbed from the
    // window's content rather than the window, whose offscreen surface has no alpha channel.
    QImage Screenshot(const std::string& name) {
        auto grab = window->CoreWindow().contentItem()->grabToImage();
        if (!grab) return {};
        bool ready = false;
        QObject::connect(grab.data(), &QQuickItemGrabResult::ready, [&] { ready = true; });
        if (!QTest::qWaitFor([&] { return ready; }, 5000)) return {};
        QImage image = grab->image();
        std::filesystem::create_directories(VELMORA_SCREENSHOT_DIR);
        image.save(QString::fromStdString(std::string(VELMORA_SCREENSHOT_DIR) + "/" + name + ".png"));
        return image;
    }

    std::shared_ptr<UiDispatcher> dispatcher;
    TestApplication application;
    std::shared_ptr<GameBarHostControls> controls = std::make_shared<GameBarHostControls>();
    std::shared_ptr<Window> window;
    std::shared_ptr<Frame> frame;
    std::shared_ptr<GameBarWidget> widget;
    std::shared_ptr<testsupport::TestPage> page;
};

}  // namespace

TEST_F(GameBarWidgetTest, DressesTheWindowAsAnOverlayAroundThePage) {
    QQuickWindow& core = window->CoreWindow();
    EXPECT_TRUE(core.flags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(core.flags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(core.color().alpha(), 0);
    EXPECT_EQ(core.size(), QSize(GameBarWidget::kDefaultWidth, GameBarWidget::kDefaultHeight));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->Widget(), widget);
    EXPECT_EQ(page->Item()->window(), &core);
    EXPECT_EQ(page->Item()->size(), QSizeF(core.size()));

    QImage image = Screenshot("gamebar-widget");
    ASSERT_FALSE(image.isNull());

    // Rounded, translucent corners around a dark, nearly opaque background.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(image.width() - 1, image.height() - 1)), 0);
    QRgb middle = image.pixel(image.width() / 2, image.height() - 8);
    EXPECT_GT(qAlpha(middle), 200);
    EXPECT_LT(qRed(middle), 40);
}

TEST_F(GameBarWidgetTest, ResizeReportsWhetherTheWindowTookTheSize) {
    struct Case {
        double width, height;
        bool taken;
        QSize after;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Case> cases = {
        {480, 488, true, {480, 488}},
        {320, 612, true, {320, 612}},
        {320.4, 193.6, true, {320, 194}},
        {0, 100, false, {320, 194}},
        {320, -1, false, {320, 194}},
        {nan, 194, false, {320, 194}},
        {std::numeric_limits<double>::infinity(), 194, false, {320, 194}},
        {1e9, 194, false, {320, 194}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Await(widget->TryResizeWindowAsync(c.width, c.height)), c.taken)
            << c.width << "x" << c.height;
        EXPECT_EQ(window->CoreWindow().size(), c.after) << c.width << "x" << c.height;
        // The page follows once the window system has delivered the new geometry.
        EXPECT_TRUE(QTest::qWaitFor([&] { return page->Item()->size() == QSizeF(c.after); }, 5000));
    }

    // From a pool thread the work still happens on the UI thread.
    std::optional<Task<bool>> fromPool;
    ManualResetEvent started;
    ThreadPool::Default().Post([&] {
        fromPool.emplace(widget->TryResizeWindowAsync(480, 488));
        started.Set();
    });
    ASSERT_TRUE(started.Wait(5s));
    EXPECT_TRUE(Await(std::move(*fromPool)));
    EXPECT_EQ(window->CoreWindow().size(), QSize(480, 488));

    // Once the window has gone there is nothing to resize.
    window->Close();
    window.reset();
    frame.reset();
    Window::ReleaseClosed();
    EXPECT_FALSE(Await(widget->TryResizeWindowAsync(320, 194)));
}

TEST_F(GameBarWidgetTest, HostControlChangesReachSubscribersOnTheUiThreadOnlyWhenTheyChange) {
    ASSERT_TRUE(page);
    controls->DisplayMode(GameBarDisplayMode::PinnedOnly);
    controls->DisplayMode(GameBarDisplayMode::PinnedOnly);
    EXPECT_EQ(widget->DisplayMode(), GameBarDisplayMode::PinnedOnly);
    EXPECT_EQ(page->DisplayModeChanges(), 1);

    EXPECT_TRUE(controls->RequestedOpacity(0.5));
    EXPECT_TRUE(controls->RequestedOpacity(0.5));
    EXPECT_FALSE(controls->RequestedOpacity(0.05));
    EXPECT_FALSE(controls->RequestedOpacity(std::nan("")));
    EXPECT_DOUBLE_EQ(widget->RequestedOpacity(), 0.5);
    EXPECT_EQ(page->OpacityChanges(), 1);

    // The chrome follows the controls: in pinned-only mode its background takes the requested opacity.
    QQuickItem* background = ChromeItem("background");
    ASSERT_TRUE(background);
    EXPECT_NEAR(background->opacity(), 0.92 * 0.5, 1e-6);
    Screenshot("gamebar-widget-pinned-only");

    // A change made by a pool thread is raised on that thread: the host makes its changes on the UI
    // thread, which is the promise the pages rely on.
    EXPECT_TRUE(page->ChangesOnUiThread());
    widget->GameBarDisplayModeChanged(widget->GameBarDisplayModeChanged([] {}));  // add and remove
    controls->DisplayMode(GameBarDisplayMode::Foreground);
    EXPECT_EQ(page->DisplayModeChanges(), 2);
    EXPECT_NEAR(background->opacity(), 0.92, 1e-6);
}

TEST_F(GameBarWidgetTest, TheContextMenuWorksFromTheKeyboard) {
    QWindow* core = &window->CoreWindow();
    EXPECT_FALSE(ChromeItem<QObject>("contextMenu"));  // made on first use

    QObject* menuObject = nullptr;
    // The shortcut the host bound shows beside "Hide widget".
    controls->ToggleShortcut("Super+Alt+M");
    QTest::keyClick(core, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            menuObject = ChromeItem<QObject>("contextMenu");
            return menuObject && menuObject->property("opened").toBool();
        },
        5000));
    Screenshot("gamebar-widget-context-menu");

    // It opens on its first item, "Pinned only", with the focus ring on it.
    auto* pinnedItem = ChromeItem("pinnedOnlyItem");
    ASSERT_NE(pinnedItem, nullptr);
    EXPECT_TRUE(pinnedItem->hasActiveFocus());
    EXPECT_TRUE(pinnedItem->property("visualFocus").toBool());
    EXPECT_TRUE(pinnedItem->property("highlighted").toBool());
    QTest::keyClick(core, Qt::Key_Space);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return widget->DisplayMode() == GameBarDisplayMode::PinnedOnly; }, 5000));
    EXPECT_EQ(page->DisplayModeChanges(), 1);

    // The opacity slider comes next and moves in steps of 10 %.
    QTest::keyClick(core, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return menuObject->property("opened").toBool(); }, 5000));
    QTest::keyClick(core, Qt::Key_Down);
    QTest::keyClick(core, Qt::Key_Left);
    QTest::keyClick(core, Qt::Key_Left);
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(widget->RequestedOpacity() - 0.8) < 1e-9; }, 5000));
    EXPECT_EQ(page->OpacityChanges(), 2);

    // "Hide widget" hides the window without closing it; shown again, it is the same window.
    bool closed = false;
    window->Closed([&] { closed = true; });
    QTest::keyClick(core, Qt::Key_Down);
    QTest::keyClick(core, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->IsHidden(); }, 5000));
    EXPECT_FALSE(core->isVisible());
    EXPECT_TRUE(window->IsOpen());
    EXPECT_FALSE(closed);
    window->Show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return core->isVisible(); }, 5000));
    EXPECT_FALSE(window->IsHidden());

    // "Close widget", after it, closes the window.
    QTest::keyClick(core, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return menuObject->property("opened").toBool(); }, 5000));
    for (int i = 0; i < 3; ++i) QTest::keyClick(core, Qt::Key_Down);
    QTest::keyClick(core, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed; }, 5000));
}

TEST_F(GameBarWidgetTest, TheResizeFlagsDecideWhetherTheEdgesResize) {
    QQuickItem* right = ChromeItem("rightEdge");
    QQuickItem* bottom = ChromeItem("bottomEdge");
    ASSERT_TRUE(right && bottom);
    EXPECT_FALSE(right->isVisible());
    EXPECT_FALSE(bottom->isVisible());
    widget->HorizontalResizeSupported(true);
    EXPECT_TRUE(right->isVisible());
    EXPECT_FALSE(bottom->isVisible());

    // Set from a pool thread, the flag reaches the chrome on the UI thread.
    ManualResetEvent set;
    ThreadPool::Default().Post([&] {
        widget->VerticalResizeSupported(true);
        set.Set();
    });
    ASSERT_TRUE(set.Wait(5s));
    EXPECT_TRUE(QTest::qWaitFor([&] { return bottom->isVisible(); }, 5000));

    // Dragging the right edge (no window manager here: the chrome resizes the window itself).
    QPoint edge = right->mapToScene(QPointF(3, 40)).toPoint();
    QTest::mousePress(&window->CoreWindow(), Qt::LeftButton, {}, edge);
    QTest::mouseMove(&window->CoreWindow(), edge + QPoint(20, 0));
    QTest::mouseMove(&window->CoreWindow(), edge + QPoint(40, 0));
    QTest::mouseRelease(&window->CoreWindow(), Qt::LeftButton, {}, edge + QPoint(40, 0));
    EXPECT_EQ(window->CoreWindow().width(), GameBarWidget::kDefaultWidth + 40);
}

TEST_F(GameBarWidgetTest, LaunchUriHandsTheUriToTheLauncher) {
    testsupport::TempDir folder;
    std::string received = folder / "received.txt";
    std::string taker = folder / "taker.sh";
    testsupport::WriteFile(taker, "#!/bin/sh\nprintf '%s' \"$1\" > '" + received + "'\n");
    std::string refuser = folder / "refuser.sh";
    testsupport::WriteFile(refuser, "#!/bin/sh\nexit 3\n");
    std::filesystem::permissions(taker, std::filesystem::perms::owner_all);
    std::filesystem::permissions(refuser, std::filesystem::perms::owner_all);

    struct Case {
        std::string launcher;
        std::string uri;
        bool taken;
    };
    const std::vector<Case> cases = {
        {taker, "corvana:open:minimized?utm_medium=desktop-xbox-game-bar", true},
        {refuser, "corvana:open", false},
        {folder / "no-such-program", "corvana:open", false},
        {taker, "not a uri", false},
        {taker, "", false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(received);
        ::setenv("VELMORA_URI_LAUNCHER", c.launcher.c_str(), 1);
        EXPECT_EQ(Await(widget->LaunchUriAsync(c.uri)), c.taken) << c.launcher << " " << c.uri;
        if (c.taken) {
            EXPECT_EQ(testsupport::ReadFile(received), c.uri);
        }
    }
    ::unsetenv("VELMORA_URI_LAUNCHER");
}
