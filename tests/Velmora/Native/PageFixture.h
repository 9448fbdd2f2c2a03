#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QPointF>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Velmora/Native/CorvanaWidgetNative.h"
#include "tests/Velmora/Native/WidgetFixture.h"
#include "tests/support/HttpsTestServer.h"

namespace testsupport {

// Covers over HTTPS for the page's tests: /cover/<name>.png is a picture in colours of its own, anything
// else is 404. One per test program, started by its main before any page exists, with VELMORA_CA_FILE
// pointing at its CA.
class CoverServer {
public:
    static CoverServer& Instance();
    std::string Url(const std::string& name) const { return server_.Origin() + "/cover/" + name + ".png"; }
    std::string MissingUrl() const { return server_.Origin() + "/missing.png"; }
    int Requests() const { return requests_; }
    // Before the process ends (see HttpsTestServer::Stop); later cover requests fail to connect.
    void Stop() { server_.Stop(); }

private:
    CoverServer();
    // Before the server, which stops (and so ends its handlers) before they go.
    std::mutex mutex_;
    std::map<std::string, std::string> drawn_;
    std::atomic<int> requests_ = 0;
    HttpsTestServer server_;
};

// The widget window as the page sees it in the tests: the fake, recording widget, resizing a real window.
class WindowWidget : public FakeGameBarWidget {
public:
    explicit WindowWidget(QQuickWindow& window) : window_(window) {}
    platform::Task<bool> TryResizeWindowAsync(double width, double height) override;

private:
    QQuickWindow& window_;
};

// The token endpoint and the vault, in memory: a stored refresh token signs the user in by refresh.
// While `hold` is set, token requests wait for Release().
struct FakeAccount : std::enable_shared_from_this<FakeAccount> {
    std::mutex mutex;
    std::map<std::string, std::string> vault;
    int tokenRequests = 0;
    bool hold = false;
    std::vector<platform::TaskCompletionSource<platform::HttpResponseMessage>> held;

    utils::TokenManagerServices Services();
    int TokenRequests();
    void Release();
};

// The native page in an offscreen window, on a pumped UI thread, over the fake desktop connection: a
// login notification signs the user in through the real token manager (by refresh, from the fake vault),
// and the feed comes from `feed` with covers from the CoverServer. The window draws what the host draws
// behind a page, over a backdrop that stands for the game.
class PageFixture : public testing::Test {
protected:
    PageFixture();
    ~PageFixture() override;

    // Creates the page and navigates to it with `parameter`: the widget unless told otherwise.
    void CreatePage();
    void CreatePage(const std::any& parameter);
    // Runs UI-thread work and Qt events until neither has anything left.
    void Pump();
    // Pumps until `done` holds; false when `timeout` passes first.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The desktop app reports a login: the token manager signs in by refresh from the fake vault.
    void ReportLogin();
    // ReportLogin, then waits until the page is signed in with the feed loaded.
    void SignIn();
    void Push(const PlaybackMessage& message);
    void PushDevices(const std::vector<Device>& devices);

    // The first item of the window named `objectName`; fails the test when there is none.
    QQuickItem* Find(const QString& objectName);
    // Visits every item of the window's scene, or of the tree under `under`.
    void ForEachItem(const std::function<void(QQuickItem*)>& visit, QQuickItem* under = nullptr);
    // Every item named `objectName` in the window, or under `under`.
    QList<QQuickItem*> FindAll(const QString& objectName, QQuickItem* under = nullptr);
    // An item shows when it is in the window and it and all its parents are visible and not transparent.
    static bool Shows(QQuickItem* item);
    // Whether an item named `objectName` shows.
    bool Showing(const QString& objectName);
    void Click(QQuickItem* item);
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Presses Tab (Shift+Tab with `modifiers`) until the item named `objectName` has the focus, at most
    // kMaxTabs times: a focus chain that never reaches it fails with the items it went through instead of
    // hanging the test.
    static constexpr int kMaxTabs = 64;
    testing::AssertionResult TabTo(const QString& objectName,
                                   Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Waits until every cover in the window has loaded or failed, then grabs the window.
    QImage Grab();
    // Saves a grab as <build>/screenshots/<name>.png and returns the path.
    std::string SaveScreenshot(const std::string& name);
    std::vector<std::string> Methods() { return script->Methods(); }

    velmora::CorvanaWidgetViewModel& Vm() { return *page->ViewModel(); }

    std::shared_ptr<platform::ManualDispatcher> ui = platform::ManualDispatcher::Create();
    std::shared_ptr<FakeDesktopConnection::Script> script = std::make_shared<FakeDesktopConnection::Script>();
    std::shared_ptr<FakeAccount> account = std::make_shared<FakeAccount>();
    std::vector<utils::corvana_client::HomeSection> feed;
    int feedLoads = 0;
    TempDir dir;
    platform::LocalSettings settings{dir / "settings.json"};
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;
    QQuickItem* host = nullptr;  // the host's background and the page's slot
    std::shared_ptr<WindowWidget> widget;
    std::shared_ptr<velmora::CorvanaWidgetNative> page;
    velmora::CorvanaWidgetNative::Services services;
};

// A feed like the desktop app's: rows of playlists, artists (round) and albums with covers.
std::vector<utils::corvana_client::HomeSection> SampleFeed();

}  // namespace testsupport
