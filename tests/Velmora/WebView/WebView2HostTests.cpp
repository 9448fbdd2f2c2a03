// The web view host with the echo page (tests/web/echo), offscreen.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <filesystem>

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QThread>
#include <QtTest/QTest>
#include <QtWebEngineQuick/QQuickWebEngineProfile>

#include "Platform/Storage/ApplicationData.h"
#include "Platform/Ui/UiDispatcher.h"
#include "Platform/WebView/WebViewEnvironment.h"
#include "Velmora/WebView/WebView2Host.h"
#include "tests/support/EventLoopWait.h"
#include "tests/support/HostWindow.h"
#include "tests/support/HttpsTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

using testsupport::WaitUntil;
using velmora::WebView2Host;
namespace fs = std::filesystem;

namespace {

// A 1x1 PNG, for covers.
const std::string kPng(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\rIDATx\x9c"
    "c\xf8\xff\xff?\0\x05\xfe\x02\xfe\xa7\x35\x81\x84\0\0\0\0IEND\xae\x42\x60\x82",
    70);

// The echo page installed as the package's ui folder of a temporary install, with a file beside the folder
// that the page must not reach and links leading in and out of it.
class EchoInstall {
public:
    EchoInstall() {
        fs::copy(VELMORA_ECHO_PAGE_DIR, dir_ / "ui", fs::copy_options::recursive);
        testsupport::WriteFile(dir_ / "secret.txt", "not for the page");
        testsupport::WriteFile(dir_ / "ui/sub/inner.txt", "inner");
        fs::create_symlink(dir_ / "secret.txt", dir_ / "ui/link-out.txt");
        fs::create_symlink("sub/inner.txt", dir_ / "ui/link-in.txt");
        qputenv("VELMORA_INSTALLED_LOCATION", dir_.path().c_str());
    }
    ~EchoInstall() { qunsetenv("VELMORA_INSTALLED_LOCATION"); }

private:
    testsupport::TempDir dir_;
};

// The UI dispatcher, counting what it ran and telling whether the caller runs inside that work, so that a
// test sees a hand-over through it.
class CountingDispatcher final : public platform::CoreDispatcher {
public:
    bool RunAsync(std::function<void()> work) override {
        return ui_->RunAsync([this, work = std::move(work)] {
            ++depth_;
            work();
            --depth_;
            ++ran_;
        });
    }
    bool HasThreadAccess() const override { return ui_->HasThreadAccess(); }
    bool InsideWork() const { return depth_ > 0; }
    int Ran() const { return ran_; }

private:
    std::shared_ptr<platform::UiDispatcher> ui_ = platform::UiDispatcher::Create();
    int depth_ = 0;
    int ran_ = 0;
};

class WebView2HostTest : public testing::Test {
protected:
    void Initialize() {
        host.Initialize(window.Find("host"), dispatcher,
                        [this](std::string message) {
                            onUiThread = onUiThread && dispatcher->HasThreadAccess();
                            handedOver = handedOver && dispatcher->InsideWork();
                            received.push_back(std::move(message));
                        })
            .Get();
        ASSERT_TRUE(WaitFor("hello"));
    }

    bool WaitFor(const std::string& message) {
        return WaitUntil(
            [&] { return std::find(received.begin(), received.end(), message) != received.end(); });
    }

    // Asks the echo page to try something and returns its report, the first message starting with prefix.
    std::string Ask(const std::string& test, const std::string& prefix) {
        const size_t from = received.size();
        Post("test:" + test);
        std::string answer;
        WaitUntil([&] {
            for (size_t i = from; i < received.size(); ++i) {
                if (received[i].starts_with(prefix)) answer = received[i];
            }
            return !answer.empty();
        });
        return answer;
    }

    void Post(const std::string& text) {
        host.WebView()->PostWebMessageAsString(QString::fromStdString(text));
    }

    EchoInstall install;
    std::shared_ptr<CountingDispatcher> dispatcher = std::make_shared<CountingDispatcher>();
    testsupport::HostWindow window;
    WebView2Host host;
    std::vector<std::string> received;
    bool onUiThread = true;
    bool handedOver = true;
};

}  // namespace

TEST_F(WebView2HostTest, InitializeLogsItsStepsInOrderAndKeepsTheProfileUnderTheLocalFolder) {
    testsupport::LogCapture log;
    EXPECT_EQ(host.WebView(), nullptr);
    Initialize();
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{"INFO WebView2Host: Initialize - creating environment",
                                        "INFO WebView2Host: Initialize - controller ready, navigating",
                                        "INFO WebView2Host: Initialize - calling Navigate"}));
    const std::string profile = platform::ApplicationData::Current().LocalFolder() + "/WebView2";
    EXPECT_EQ(WebView2Host::UserDataFolder(), profile);
    EXPECT_TRUE(fs::is_directory(profile));
    EXPECT_EQ(host.WebView()->Url(), QUrl("velmora-app://widget.invalid/index.html"));
    // The page's storage lands in the profile folder, not in the default one of QtWebEngine.
    EXPECT_EQ(Ask("store", "stored"), "stored");
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(profile + "/Local Storage"); }));
    EXPECT_FALSE(fs::exists(qEnvironmentVariable("XDG_DATA_HOME").toStdString() + "/WebView2HostTests"));
}

TEST_F(WebView2HostTest, MessagesArriveOnTheUiThreadThroughTheDispatcherInOrder) {
    Initialize();
    const std::vector<std::string> texts = {
        "plain", "quote \" backslash \\ <b>tag</b>", "non-BMP \xF0\x9F\x8E\xB5", std::string(100000, 'x'), "",
        "last"};
    for (const auto& text : texts) Post(text);
    ASSERT_TRUE(WaitFor("echo:last"));
    std::vector<std::string> echoes;
    for (const auto& message : received) {
        if (message.starts_with("echo:")) echoes.push_back(message.substr(5));
    }
    EXPECT_EQ(echoes, texts);
    EXPECT_TRUE(onUiThread);
    EXPECT_TRUE(handedOver);

    // A burst from the page arrives whole and in order, one hand-over each.
    received.clear();
    const int ranBefore = dispatcher->Ran();
    Post("test:burst:10000");
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 10000; }));
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(received[i], "burst:" + std::to_string(i));
    EXPECT_EQ(dispatcher->Ran() - ranBefore, 10000);
}

TEST_F(WebView2HostTest, AMessagePostedBeforeTheHandlersAreRegisteredIsNotDelivered) {
    auto environment =
        platform::WebViewEnvironment::ForFolder(QString::fromStdString(WebView2Host::UserDataFolder()));
    environment->SetVirtualHostNameToFolderMapping(QString::fromStdString(WebView2Host::ContentFolder()));
    auto view = platform::WebView::Create(environment, window.Find("host"));
    view->Navigate(WebView2Host::StartUri());
    // The page says "hello" as it loads; once it answers a message of ours by changing its title, its
    // channel is up and that "hello" has gone out with no one to receive it.
    ASSERT_TRUE(WaitUntil([&] {
        view->PostWebMessageAsString("probe");
        return view->Item()->property("title").toString() == "echo ready";
    }));
    WebView2Host::RegisterCoreEventHandlers(*view, dispatcher,
                                            [this](std::string m) { received.push_back(m); });
    view->PostWebMessageAsString("after");
    ASSERT_TRUE(WaitFor("echo:after"));
    EXPECT_EQ(std::count(received.begin(), received.end(), "hello"), 0);
}

TEST_F(WebView2HostTest, ThePageReachesOnlyFilesInsideItsFolder) {
    Initialize();
    const std::pair<std::string, std::string> cases[] = {
        {"echo.js", "200"},
        {"link-in.txt", "200"},
        {"sub/inner.txt", "200"},
        {"../secret.txt", "failed"},  // the browser resolves it to /secret.txt, which is not in the folder
        {"..%2Fsecret.txt", "failed"},
        {"link-out.txt", "failed"},
        {"sub", "failed"},
        {"sub/", "failed"},
        {"missing.txt", "failed"},
        {"file:///etc/hostname", "failed"},
    };
    for (const auto& [path, outcome] : cases) {
        const std::string url = path.starts_with("file:") ? path : "velmora-app://widget.invalid/" + path;
        const std::string answer = Ask("fetch:" + url, "fetch:");
        EXPECT_TRUE(answer.starts_with("fetch:" + outcome + ":")) << path << " -> " << answer;
    }
}

TEST_F(WebView2HostTest, ThePageCannotLeaveOrOpenWindowsOrDownload) {
    Initialize();
    EXPECT_EQ(Ask("open:https://example.invalid/", "open:"), "open:refused");
    EXPECT_EQ(Ask("open:velmora-app://widget.invalid/index.html", "open:"), "open:refused");

    Post("test:navigate:https://example.invalid/");
    Post("test:navigate:file:///etc/hostname");
    // Once the refused navigations have settled, it is still the same page, still answering: nothing
    // replaced it, not even an error page.
    EXPECT_EQ(Ask("location", "location:"), "location:velmora-app://widget.invalid/index.html");
    ASSERT_TRUE(WaitUntil([&] { return !host.WebView()->Item()->property("loading").toBool(); }));
    EXPECT_EQ(host.WebView()->Url(), QUrl("velmora-app://widget.invalid/index.html"));
    EXPECT_EQ(Ask("location", "location:"), "location:velmora-app://widget.invalid/index.html");
    EXPECT_EQ(std::count(received.begin(), received.end(), "hello"), 1);

    auto environment =
        platform::WebViewEnvironment::ForFolder(QString::fromStdString(WebView2Host::UserDataFolder()));
    QSignalSpy downloads(environment->Profile(), SIGNAL(downloadRequested(QQuickWebEngineDownloadRequest*)));
    Post("test:download");
    // A download nobody accepts while it is announced is cancelled there and then.
    ASSERT_TRUE(WaitUntil([&] { return downloads.count() == 1; }));
    const std::string home = qEnvironmentVariable("HOME").toStdString();
    EXPECT_FALSE(fs::exists(home + "/Downloads/echo.js"));
    EXPECT_FALSE(fs::exists(WebView2Host::UserDataFolder() + "/Downloads/echo.js"));
}

TEST_F(WebView2HostTest, APageOfAnotherOriginCannotReadTheVirtualHost) {
    Initialize();
    EXPECT_EQ(Ask("frame", "frame:"), "frame:refused");
    // The same read from the page itself works.
    EXPECT_TRUE(Ask("fetch:velmora-app://widget.invalid/index.html", "fetch:").starts_with("fetch:200:"));
}

TEST_F(WebView2HostTest, CoversLoadOverHttpsOnlyWhenTheExtraCaVouchesForThem) {
    testsupport::HttpsTestServer server;
    std::atomic<int> imageRequests{0}, dataRequests{0};
    server.Get("/cover.png", [&](const httplib::Request&, httplib::Response& response) {
        ++imageRequests;
        response.set_content(kPng, "image/png");
    });
    server.Get("/data.json", [&](const httplib::Request&, httplib::Response& response) {
        ++dataRequests;
        response.set_content("{}", "application/json");
    });
    server.Start();
    qputenv("VELMORA_CA_FILE", server.CaFile().c_str());
    Initialize();
    qunsetenv("VELMORA_CA_FILE");

    const std::string cover = server.Origin() + "/cover.png";
    EXPECT_EQ(Ask("image:" + cover, "image:"), "image:loaded:" + cover);
    EXPECT_GE(imageRequests.load(), 1);
    // An image, but not over HTTPS; HTTPS, but not an image: neither leaves the browser.
    const std::string data = server.Origin() + "/data.json";
    EXPECT_EQ(Ask("fetch:" + data, "fetch:"), "fetch:failed:" + data);
    const std::string plain = "http://127.0.0.1:9/cover.png";
    EXPECT_EQ(Ask("image:" + plain, "image:"), "image:failed:" + plain);
    EXPECT_EQ(dataRequests.load(), 0);
    // By name as well as by address.
    const std::string named =
        "https://localhost:" + server.Origin().substr(server.Origin().rfind(':') + 1) + "/cover.png";
    EXPECT_EQ(Ask("image:" + named, "image:"), "image:loaded:" + named);
}

TEST_F(WebView2HostTest, WithoutTheExtraCaCoversOfThatAuthorityAreRefused) {
    testsupport::HttpsTestServer server;
    server.Get("/cover.png", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(kPng, "image/png");
    });
    server.Start();
    qunsetenv("VELMORA_CA_FILE");
    Initialize();
    const std::string cover = server.Origin() + "/cover.png";
    EXPECT_EQ(Ask("image:" + cover, "image:"), "image:failed:" + cover);
}

TEST_F(WebView2HostTest, TabMovesFocusIntoThroughAndOutOfThePage) {
    Initialize();
    window.Window()->requestActivate();
    QQuickItem* before = window.Find("before");
    QQuickItem* after = window.Find("after");
    before->forceActiveFocus();
    ASSERT_TRUE(WaitUntil([&] { return before->hasActiveFocus(); }));

    auto tab = [&](bool back) {
        QTest::keyClick(window.Window(), Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
    };
    auto focusedInPage = [&] { return Ask("active", "active:"); };

    tab(false);
    EXPECT_TRUE(WaitUntil([&] { return focusedInPage() == "active:first"; }));
    tab(false);
    EXPECT_TRUE(WaitUntil([&] { return focusedInPage() == "active:second"; }));
    tab(false);
    EXPECT_TRUE(WaitUntil([&] { return focusedInPage() == "active:download"; }));
    tab(false);
    EXPECT_TRUE(WaitUntil([&] { return after->hasActiveFocus(); }));

    tab(true);
    EXPECT_TRUE(WaitUntil([&] { return focusedInPage() == "active:download"; }));
    tab(true);
    tab(true);
    EXPECT_TRUE(WaitUntil([&] { return focusedInPage() == "active:first"; }));
    tab(true);
    EXPECT_TRUE(WaitUntil([&] { return before->hasActiveFocus(); }));
}

TEST_F(WebView2HostTest, TheScaleFollowsTheScreenWithoutReloadingThePage) {
    Initialize();
    const auto screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    ASSERT_EQ(window.Window()->screen(), screens[0]);
    EXPECT_EQ(Ask("dpr", "dpr:"), "dpr:1");

    window.Window()->setScreen(screens[1]);
    EXPECT_TRUE(WaitUntil([&] { return Ask("dpr", "dpr:") == "dpr:2"; }));
    window.Window()->setScreen(screens[0]);
    EXPECT_TRUE(WaitUntil([&] { return Ask("dpr", "dpr:") == "dpr:1"; }));
    EXPECT_EQ(std::count(received.begin(), received.end(), "hello"), 1);
}

TEST_F(WebView2HostTest, ThePageIsDrawnIntoTheHostElement) {
    Initialize();
    // The page's frames reach the scene some frames after it loaded.
    QImage shot;
    EXPECT_TRUE(WaitUntil([&] {
        shot = window.Window()->grabWindow();
        const QRect host = window.Find("host")->mapRectToScene(QRectF(0, 0, 320, 440)).toRect();
        const QImage inside = shot.copy(host);
        // The echo page's heading is dark text on white: both must be there.
        bool dark = false, light = false;
        for (int y = 0; y < inside.height(); y += 2) {
            for (int x = 0; x < inside.width(); x += 2) {
                const int gray = qGray(inside.pixel(x, y));
                dark = dark || gray < 64;
                light = light || gray > 192;
            }
        }
        return dark && light;
    }));
    if (const char* folder = std::getenv("VELMORA_SCREENSHOT_DIR"))
        shot.save(QString(folder) + "/echo-page.png");
}

TEST_F(WebView2HostTest, PermissionsDialogsAndFilesAreRefusedWithoutAWindow) {
    Initialize();
    const auto windows = QGuiApplication::topLevelWindows().size();
    EXPECT_EQ(Ask("notification", "notification:"), "notification:denied");
    EXPECT_EQ(Ask("geolocation", "geolocation:"), "geolocation:error 1");  // PERMISSION_DENIED
    EXPECT_EQ(Ask("dialog", "dialog:"), "dialog:false null");

    // A file chooser opens only on a gesture of the user: a key press on the focused file input.
    window.Window()->requestActivate();
    host.WebView()->Item()->forceActiveFocus();
    Post("test:focus-file");
    ASSERT_TRUE(WaitUntil([&] { return Ask("active", "active:") == "active:file"; }));
    QSignalSpy choosers(host.WebView()->Item(),
                        SIGNAL(fileDialogRequested(QQuickWebEngineFileDialogRequest*)));
    QTest::keyClick(window.Window(), Qt::Key_Space);
    ASSERT_TRUE(WaitUntil([&] { return choosers.count() == 1; }));
    // Taken by the view's own handler, so no default dialog was even tried.
    EXPECT_TRUE(choosers.at(0).at(0).value<QObject*>()->property("accepted").toBool());
    EXPECT_EQ(Ask("files", "files:"), "files:0");
    EXPECT_EQ(QGuiApplication::topLevelWindows().size(), windows);
}
