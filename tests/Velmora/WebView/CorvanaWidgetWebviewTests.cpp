// The web-view page with doubles at its seams: a recording web view host, a scripted widget window, a
// desktop connection the test drives and a pumped UI dispatcher. The bridge, the controller and the
// token manager are the real ones.
#include <gtest/gtest.h>

#include <QQmlEngine>
#include <QQuickItem>

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "Velmora/WebView/CorvanaWidgetWebview.h"
#include "tests/Velmora/Native/WidgetFixture.h"
#include "tests/support/FakeDesktopConnection.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedGameBarWidget.h"
#include "tests/support/TempDir.h"

using nlohmann::json;
using testsupport::FakeDesktopConnection;
using testsupport::LogCapture;
using testsupport::ScriptedGameBarWidget;
using velmora::CorvanaWidgetWebview;
using Size = velmora::WindowSize;

namespace {

// What the page did with its web view host.
struct HostRecord {
    QQuickItem* element = nullptr;
    velmora::IWebViewHost::MessageCallback onMessage;
    int initializations = 0;
    int reloads = 0;
    std::function<void()> restarted;  // the view shows the page anew by itself
    bool holdInitialize = false;
    std::optional<platform::TaskCompletionSource<void>> held;
    std::vector<json> posted;
};

class RecordingHost : public velmora::IWebViewHost {
public:
    explicit RecordingHost(std::shared_ptr<HostRecord> record) : record_(std::move(record)) {}

    platform::Task<void> Initialize(QQuickItem* hostElement, std::shared_ptr<platform::CoreDispatcher>,
                                    MessageCallback onMessage) override {
        record_->element = hostElement;
        record_->onMessage = std::move(onMessage);
        ++record_->initializations;
        platform::TaskCompletionSource<void> done;
        if (record_->holdInitialize) {
            record_->held = done;
        } else {
            done.TrySetResult();
        }
        return done.GetTask();
    }
    bool HasWebView() const override { return record_->initializations > 0; }
    void PostWebMessageAsString(const std::string& text) override {
        record_->posted.push_back(json::parse(text));
    }
    void Reload() override { ++record_->reloads; }
    void SetWebPageRestarted(std::function<void()> handler) override {
        record_->restarted = std::move(handler);
    }

private:
    std::shared_ptr<HostRecord> record_;
};

// A widget whose next resize throws.
class ThrowingWidget : public ScriptedGameBarWidget {
public:
    explicit ThrowingWidget(std::exception_ptr error) : error_(std::move(error)) {}
    platform::Task<bool> TryResizeWindowAsync(double, double) override { std::rethrow_exception(error_); }

private:
    std::exception_ptr error_;
};

json SignIn(const std::string& state) {
    return {{"type", "login_state_changed"}, {"loggedIn", state == "signedIn"}, {"signInState", state}};
}

json Login(bool loggedIn) {
    return {{"type", "login_state_changed"}, {"loggedIn", loggedIn}};
}

json Expanded(bool expanded) {
    return {{"type", "expandedState"}, {"isExpanded", expanded}};
}

// How the host shows the widget, which a web page hears after its "appReady".
json Display(bool pinnedOnly = false, double opacity = 1) {
    return {{"type", "displayState"}, {"isPinnedOnly", pinnedOnly}, {"opacity", opacity}};
}

struct Fixture {
    explicit Fixture(
        std::shared_ptr<ScriptedGameBarWidget> usedWidget = std::make_shared<ScriptedGameBarWidget>())
        : widget(std::move(usedWidget)) {
        CorvanaWidgetWebview::Services services;
        services.makeConnection = [this] { return std::make_unique<FakeDesktopConnection>(script); };
        services.makeHost = [this] { return std::make_unique<RecordingHost>(host); };
        // A vault holding the refresh token of "ada", and a token endpoint that trades it for "access-1".
        services.tokenManagerServices = [vault = vault] {
            utils::TokenManagerServices fake;
            fake.sendTokenRequest = [](platform::HttpRequestMessage) {
                const json body{
                    {"access_token", "access-1"}, {"refresh_token", "refresh-2"}, {"expires_in", 3600}};
                platform::TaskCompletionSource<platform::HttpResponseMessage> answered;
                answered.TrySetResult({200, {}, body.dump()});
                return answered.GetTask();
            };
            fake.readCredential = [vault](const std::string& user) {
                std::lock_guard lock(vault->mutex);
                const auto found = vault->entries.find(user);
                if (found == vault->entries.end()) return utils::StoredCredential{};
                return utils::StoredCredential{utils::StoredCredential::State::Found, found->second};
            };
            fake.saveCredentials = [vault](const std::map<std::string, std::string>& entries) {
                std::lock_guard lock(vault->mutex);
                for (const auto& [user, secret] : entries) vault->entries[user] = secret;
                return true;
            };
            return fake;
        };
        services.fetchHomeFeed = [this](std::string token) {
            feedTokens.push_back(token);
            utils::corvana_client::HomeFeedResult feed;
            feed.sections.push_back({"Made for you", {{}}});
            feed.statusCode = 200;
            platform::TaskCompletionSource<utils::corvana_client::HomeFeedResult> done;
            done.TrySetResult(std::move(feed));
            return done.GetTask();
        };
        services.settings = &settings;
        services.openSessionLog = [this] { ++sessionLogsOpened; };
        parameter = std::shared_ptr<platform::IGameBarWidget>(widget);
        page = CorvanaWidgetWebview::Create({engine, parameter, dispatcher}, services);
    }

    ~Fixture() {
        page->Shutdown();
        page.reset();
        dispatcher->RunPending();
    }

    // Runs OnLoaded up to its wait, as the page's arrival in a window does.
    platform::Task<void> Load() {
        auto loading = page->OnLoaded();
        dispatcher->RunPending();
        return loading;
    }

    void FromWebPage(const std::string& message) {
        host->onMessage(message);
        dispatcher->RunPending();
    }

    std::vector<json> TakePosted() { return std::exchange(host->posted, {}); }

    // Loaded, told "appReady" and signed in, with what that posted taken.
    platform::Task<void> LoadSignedIn() {
        auto loading = Load();
        FromWebPage("appReady");
        page->OnLoginStateChanged(true);
        dispatcher->RunPending();
        TakePosted();
        return loading;
    }

    // The desktop app reports "ada" signed in; the page's token manager signs in from the vault.
    void DesktopSignsIn() {
        {
            std::lock_guard lock(vault->mutex);
            vault->entries[utils::TokenManager::UserKeyFor("ada") + "CorvanaRefreshToken"] = "refresh-1";
        }
        script->Answer("me", {false, platform::ValueSet{{"username", platform::Value("ada")}}});
        script->Push("login_state_subscription", platform::ValueSet{{"logged_in", platform::Value(true)}});
    }

    std::shared_ptr<platform::ManualDispatcher> dispatcher = platform::ManualDispatcher::Create();
    QQmlEngine engine;
    std::shared_ptr<FakeDesktopConnection::Script> script = std::make_shared<FakeDesktopConnection::Script>();
    std::shared_ptr<HostRecord> host = std::make_shared<HostRecord>();
    struct Vault {
        std::mutex mutex;
        std::map<std::string, std::string> entries;
    };
    std::shared_ptr<Vault> vault = std::make_shared<Vault>();
    std::vector<std::string> feedTokens;  // the access token of each feed fetch
    std::shared_ptr<ScriptedGameBarWidget> widget;
    testsupport::TempDir folder;
    platform::LocalSettings settings{folder / "settings.json"};
    int sessionLogsOpened = 0;
    std::any parameter;
    std::shared_ptr<CorvanaWidgetWebview> page;
};

}  // namespace

TEST(CorvanaWidgetWebview, MadeOnlyForAWidgetWindow) {
    QQmlEngine engine;
    auto dispatcher = platform::ManualDispatcher::Create();
    for (const std::any& parameter :
         {std::any(), std::any(42), std::any(std::shared_ptr<platform::IGameBarWidget>())}) {
        try {
            CorvanaWidgetWebview::Create({engine, parameter, dispatcher});
            ADD_FAILURE() << "a page without a widget";
        } catch (const platform::PlatformError& error) {
            EXPECT_EQ(error.code(), platform::E_POINTER);
        }
    }
}

TEST(CorvanaWidgetWebview, LoadingPutsTheWebViewIntoTheMarkupAndStartsTheDesktopLink) {
    Fixture f;
    LogCapture log;
    auto loading = f.Load();
    ASSERT_EQ(f.host->initializations, 1);
    ASSERT_NE(f.host->element, nullptr);
    EXPECT_EQ(f.host->element->parentItem(), f.page->Item());
    EXPECT_TRUE(f.page->HasTokenManager());
    EXPECT_TRUE(f.script->WaitForConnects(1));
    const auto lines = log.Lines();
    const auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    EXPECT_LT(at("INFO CorvanaWidgetWebview: OnLoaded - starting Initialize"),
              at("INFO CorvanaWidgetWebview: OnLoaded - Initialize complete, registering WebView callbacks"));
    EXPECT_LT(at("INFO CorvanaWidgetWebview: OnLoaded - Initialize complete, registering WebView callbacks"),
              static_cast<std::ptrdiff_t>(lines.size()));
    EXPECT_FALSE(loading.IsCompleted());
}

TEST(CorvanaWidgetWebview, LoginSizesTheWindowAndTellsTheWebPage) {
    struct Case {
        const char* name;
        std::optional<platform::Value> stored;
        bool appReadyFirst;
        bool loggedIn;
        Size size;
        bool windowSetting;
        std::vector<json> postedAtLogin;
        std::vector<json> postedAtAppReady;
    };
    const Case cases[] = {
        {"first login, nothing stored",
         std::nullopt,
         true,
         true,
         {320, 612},
         true,
         {Login(true), Expanded(true)},
         {}},
        {"stored collapsed",
         platform::Value(false),
         true,
         true,
         {320, 156},
         false,
         {Login(true), Expanded(false)},
         {}},
        {"stored expanded",
         platform::Value(true),
         true,
         true,
         {320, 612},
         true,
         {Login(true), Expanded(true)},
         {}},
        {"stored text counts as nothing",
         platform::Value(std::string("false")),
         true,
         true,
         {320, 612},
         true,
         {Login(true), Expanded(true)},
         {}},
        {"stored number counts as nothing",
         platform::Value(int32_t(0)),
         true,
         true,
         {320, 612},
         true,
         {Login(true), Expanded(true)},
         {}},
        {"login before appReady",
         std::nullopt,
         false,
         true,
         {320, 612},
         true,
         {},
         {Login(true), Expanded(true)}},
        {"logout", platform::Value(true), true, false, {480, 488}, false, {Login(false)}, {}},
        {"logout before appReady", std::nullopt, false, false, {480, 488}, false, {}, {Login(false)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        if (c.stored) f.settings.Insert(velmora::kExpandedSetting, *c.stored);
        auto loading = f.Load();
        if (c.appReadyFirst) {
            f.FromWebPage("appReady");
            EXPECT_EQ(f.TakePosted(), std::vector<json>{Display()});
        }
        f.page->OnLoginStateChanged(c.loggedIn);
        f.dispatcher->RunPending();
        EXPECT_EQ(f.widget->Resizes(), std::vector<Size>{c.size});
        EXPECT_EQ(f.widget->HorizontalResize(), c.windowSetting);
        EXPECT_EQ(f.widget->VerticalResize(), c.windowSetting);
        EXPECT_EQ(f.TakePosted(), c.postedAtLogin);
        f.FromWebPage("appReady");
        auto postedAtAppReady = c.postedAtAppReady;
        if (!c.appReadyFirst) postedAtAppReady.push_back(Display());
        EXPECT_EQ(f.TakePosted(), postedAtAppReady);
        EXPECT_EQ(f.sessionLogsOpened, c.loggedIn ? 1 : 0);
        // The expanded state is written only when the web page asks for a change.
        EXPECT_EQ(f.settings.Lookup(velmora::kExpandedSetting), c.stored);
    }
}

TEST(CorvanaWidgetWebview, ResizeFailuresAreLoggedAndChangeNothingElse) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<ScriptedGameBarWidget>()> widget;
        bool loggedIn;
        std::string line;
    };
    const auto refusing = [] {
        auto widget = std::make_shared<ScriptedGameBarWidget>();
        widget->QueueResizeResults({false});
        return widget;
    };
    const auto throwing = [](std::exception_ptr error) {
        return [error] { return std::make_shared<ThrowingWidget>(error); };
    };
    const auto platformError =
        std::make_exception_ptr(platform::PlatformError(platform::E_FAIL, "the window is gone"));
    const auto otherError = std::make_exception_ptr(std::runtime_error("surprise"));
    const Case cases[] = {
        {"refused, signed in", refusing, true,
         "ERROR CorvanaWidgetWebview: ApplyLoggedInSizeAsync resize failed"},
        {"refused, signed out", refusing, false,
         "ERROR CorvanaWidgetWebview: ApplyLoggedOutSizeAsync resize failed"},
        {"platform error, signed in", throwing(platformError), true,
         "ERROR CorvanaWidgetWebview: ApplyLoggedInSizeAsync exception: the window is gone"},
        {"platform error, signed out", throwing(platformError), false,
         "ERROR CorvanaWidgetWebview: ApplyLoggedOutSizeAsync exception: the window is gone"},
        {"other error, signed in", throwing(otherError), true,
         "ERROR CorvanaWidgetWebview: ApplyLoggedInSizeAsync unknown exception"},
        {"other error, signed out", throwing(otherError), false,
         "ERROR CorvanaWidgetWebview: ApplyLoggedOutSizeAsync unknown exception"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.widget());
        LogCapture log;
        auto loading = f.Load();
        f.FromWebPage("appReady");
        f.TakePosted();
        f.page->OnLoginStateChanged(c.loggedIn);
        f.dispatcher->RunPending();
        EXPECT_EQ(log.Count(c.line), 1u);
        EXPECT_EQ(f.widget->HorizontalResize(), std::nullopt);
        EXPECT_EQ(f.widget->VerticalResize(), std::nullopt);
        // The web page still learns the login state.
        EXPECT_EQ(f.TakePosted().front(), Login(c.loggedIn));
    }
}

TEST(CorvanaWidgetWebview, ExpandedStateFromTheWebPageIsKeptForTheNextSignIn) {
    Fixture f;
    auto loading = f.LoadSignedIn();

    f.FromWebPage("setExpanded:false");
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return !f.host->posted.empty(); }));
    EXPECT_EQ(f.TakePosted(), std::vector<json>{Expanded(false)});
    EXPECT_EQ(f.widget->Resizes().back(), (Size{320, 156}));
    EXPECT_EQ(f.page->LoadPersistedExpandedState(), false);

    // Signed out and in again: collapsed, as the player left it.
    f.page->OnLoginStateChanged(false);
    f.page->OnLoginStateChanged(true);
    f.dispatcher->RunPending();
    EXPECT_EQ(f.TakePosted(), (std::vector<json>{Login(false), Login(true), Expanded(false)}));
    EXPECT_EQ(f.widget->Resizes().back(), (Size{320, 156}));
}

TEST(CorvanaWidgetWebview, APlayerWithoutAnAccountIsShownCollapsedAndWithoutAFeed) {
    Fixture f;
    auto loading = f.Load();
    f.FromWebPage("appReady");
    f.TakePosted();
    f.script->Push("login_state_subscription", platform::ValueSet{{"logged_in", platform::Value(true)},
                                                                  {"web_account", platform::Value(false)}});
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return !f.host->posted.empty(); }));
    EXPECT_EQ(f.TakePosted(), std::vector<json>{SignIn("playerOnly")});  // no expanded state: no feed
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return !f.widget->Resizes().empty(); }));
    EXPECT_EQ(f.widget->Resizes().back(), (Size{320, 156}));
    LogCapture log;
    f.FromWebPage("requestHome");
    f.dispatcher->RunPending();
    EXPECT_TRUE(log.Contains("ERROR CorvanaWidgetWebview: requestHome - no auth token available"));

    // Pinned only, the window takes the pinned block's size, and back.
    f.widget->ChangeDisplayMode(platform::GameBarDisplayMode::PinnedOnly);
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return f.widget->Resizes().back() == Size{320, 108}; }));
    f.widget->ChangeDisplayMode(platform::GameBarDisplayMode::Foreground);
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return f.widget->Resizes().back() == Size{320, 156}; }));
}

TEST(CorvanaWidgetWebview, PinnedOnlyShrinksTheSignedInWindowToTheNowPlayingBlockAndTellsTheWebPage) {
    using platform::GameBarDisplayMode;
    Fixture f;
    auto loading = f.LoadSignedIn();
    const size_t resizes = f.widget->Resizes().size();
    f.widget->ChangeOpacity(0.3);
    EXPECT_EQ(f.TakePosted(), std::vector<json>{Display(false, 0.3)});
    EXPECT_EQ(f.widget->Resizes().size(), resizes);  // the opacity alone changes no size

    struct Step {
        std::function<void()> act;
        Size size;
        bool edgesResize;
    };
    const Step steps[] = {
        {[&] { f.widget->ChangeDisplayMode(GameBarDisplayMode::PinnedOnly); }, {320, 108}, false},
        {[&] { f.widget->ChangeDisplayMode(GameBarDisplayMode::Foreground); }, {320, 612}, true},
        {[&] { f.FromWebPage("setExpanded:false"); }, {320, 156}, false},
        {[&] { f.widget->ChangeDisplayMode(GameBarDisplayMode::PinnedOnly); }, {320, 108}, false},
        {[&] { f.page->OnLoginStateChanged(true); }, {320, 108}, false},  // signed in anew while pinned
        {[&] { f.widget->ChangeDisplayMode(GameBarDisplayMode::Foreground); }, {320, 156}, false},
    };
    for (const auto& step : steps) {
        step.act();
        f.dispatcher->RunPending();
        EXPECT_EQ(f.widget->Resizes().back(), step.size);
        EXPECT_EQ(f.widget->HorizontalResize(), step.edgesResize);
    }
    const auto posted = f.TakePosted();
    EXPECT_EQ(std::count(posted.begin(), posted.end(), Display(true, 0.3)), 2);
    EXPECT_EQ(std::count(posted.begin(), posted.end(), Display(false, 0.3)), 2);

    // Signed out, the window keeps the signed-out size, pinned or not.
    f.page->OnLoginStateChanged(false);
    f.dispatcher->RunPending();
    f.widget->ChangeDisplayMode(GameBarDisplayMode::PinnedOnly);
    f.dispatcher->RunPending();
    EXPECT_EQ(f.widget->Resizes().back(), (Size{480, 488}));

    f.page->Shutdown();
    EXPECT_EQ(f.widget->DisplayHandlers(), 0u);
}

TEST(CorvanaWidgetWebview, ControllerEventsReachTheWebPageWithoutAppReadyAndCommandsReachTheController) {
    Fixture f;
    auto loading = f.Load();
    ASSERT_FALSE(f.page->IsAppReady());
    testsupport::PlaybackMessage playing;
    playing.name = "<b>Song</b>";
    f.script->Push("playback_state_subscription", playing.ToValueSet());
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return !f.host->posted.empty(); }));
    const auto posted = f.TakePosted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0]["type"], "playbackState");
    EXPECT_EQ(posted[0]["track"]["name"], "<b>Song</b>");

    f.script->ClearRequests();
    f.FromWebPage("pausePlayback");
    f.FromWebPage("setShuffle:true");
    f.FromWebPage("no such command");
    ASSERT_TRUE(f.script->WaitForRequests(2));
    EXPECT_EQ(f.script->Methods(), (std::vector<std::string>{"playback_pause", "playback_shuffle"}));
}

TEST(CorvanaWidgetWebview, UnloadClearsAppReadyAndAReloadedWebPageLearnsTheLoginStateAgain) {
    Fixture f;
    auto first = f.Load();
    f.FromWebPage("appReady");
    f.page->OnLoginStateChanged(true);
    f.dispatcher->RunPending();
    ASSERT_TRUE(f.page->IsAppReady());
    f.TakePosted();

    f.page->OnUnloaded();
    EXPECT_FALSE(f.page->IsAppReady());
    EXPECT_TRUE(first.WaitFor(std::chrono::seconds(5)));

    auto second = f.Load();
    EXPECT_EQ(f.host->initializations, 1);
    EXPECT_EQ(f.host->reloads, 1);
    EXPECT_FALSE(f.page->IsAppReady());
    EXPECT_TRUE(f.TakePosted().empty());
    f.FromWebPage("appReady");
    EXPECT_TRUE(f.page->IsAppReady());
    EXPECT_EQ(f.TakePosted(), (std::vector<json>{Login(true), Expanded(true), Display()}));
    // One set of controller handlers, however often the page was loaded.
    EXPECT_EQ(f.page->Controller()->PlaybackStateChanged.HandlerCount(), 1u);
}

TEST(CorvanaWidgetWebview, AReloadedWebPageStillGetsTheFeedOfTheSignedInUser) {
    Fixture f;
    auto first = f.Load();
    f.FromWebPage("appReady");
    f.TakePosted();
    f.DesktopSignsIn();
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return f.host->posted.size() >= 2; }));
    // What plays shows while the tokens are on their way; the feed can be asked for once signed in.
    auto posted = f.TakePosted();
    EXPECT_EQ(posted.at(0), SignIn("signingIn"));
    EXPECT_EQ(posted.at(1), SignIn("signedIn"));
    f.FromWebPage("requestHome");
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return !f.host->posted.empty(); }));
    EXPECT_EQ(f.TakePosted().front()["type"], "homeContent");

    // The desktop app says nothing new while the page is away: the user is still the one signed in.
    f.page->OnUnloaded();
    auto second = f.Load();
    f.FromWebPage("appReady");
    EXPECT_EQ(f.TakePosted(), (std::vector<json>{SignIn("signedIn"), Expanded(true), Display()}));
    LogCapture log;
    f.FromWebPage("requestHome");
    EXPECT_TRUE(f.dispatcher->RunUntil([&] { return f.feedTokens.size() == 2; }));
    EXPECT_EQ(f.feedTokens, (std::vector<std::string>{"access-1", "access-1"}));
    EXPECT_EQ(log.Count("ERROR CorvanaWidgetWebview: requestHome - no auth token available"), 0u);
}

TEST(CorvanaWidgetWebview, AWebPageTheViewShowsAnewLearnsTheLoginStateAgain) {
    Fixture f;
    auto loading = f.LoadSignedIn();

    // Its renderer ended: the view loads a fresh document, which waits to hear the login state.
    ASSERT_TRUE(f.host->restarted);
    f.host->restarted();
    EXPECT_FALSE(f.page->IsAppReady());
    EXPECT_TRUE(f.TakePosted().empty());
    f.FromWebPage("appReady");
    EXPECT_EQ(f.TakePosted(), (std::vector<json>{Login(true), Expanded(true), Display()}));
    // The controller's events still reach it, once each.
    f.script->Push("playback_state_subscription", testsupport::PlaybackMessage{}.ToValueSet());
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return !f.host->posted.empty(); }));
    f.dispatcher->RunPending();
    EXPECT_EQ(f.TakePosted().size(), 1u);
    EXPECT_EQ(f.page->Controller()->PlaybackStateChanged.HandlerCount(), 1u);
}

TEST(CorvanaWidgetWebview, ShutdownDropsTheRegistrationsAndEndsOnLoaded) {
    Fixture f;
    const auto& controller = f.page->Controller();
    const size_t playback = controller->PlaybackStateChanged.HandlerCount();
    const size_t device = controller->ActiveDeviceChanged.HandlerCount();
    const size_t devices = controller->DevicesChanged.HandlerCount();
    auto loading = f.Load();
    EXPECT_EQ(controller->PlaybackStateChanged.HandlerCount(), playback + 1);
    EXPECT_EQ(controller->ActiveDeviceChanged.HandlerCount(), device + 1);
    EXPECT_EQ(controller->DevicesChanged.HandlerCount(), devices + 1);
    EXPECT_FALSE(loading.IsCompleted());

    f.page->Shutdown();
    EXPECT_FALSE(f.page->HasTokenManager());
    EXPECT_EQ(controller->PlaybackStateChanged.HandlerCount(), playback);
    EXPECT_EQ(controller->ActiveDeviceChanged.HandlerCount(), device);
    EXPECT_EQ(controller->DevicesChanged.HandlerCount(), devices);
    EXPECT_TRUE(loading.WaitFor(std::chrono::seconds(5)));

    f.script->Push("playback_state_subscription", testsupport::PlaybackMessage{}.ToValueSet());
    f.dispatcher->RunPending();
    EXPECT_TRUE(f.TakePosted().empty());
}

TEST(CorvanaWidgetWebview, ShutdownWhileTheHostStartsRegistersNothing) {
    Fixture f;
    f.host->holdInitialize = true;
    const size_t playback = f.page->Controller()->PlaybackStateChanged.HandlerCount();
    auto loading = f.Load();
    f.page->Shutdown();
    f.host->held->TrySetResult();
    f.dispatcher->RunPending();
    EXPECT_TRUE(loading.WaitFor(std::chrono::seconds(5)));
    EXPECT_EQ(f.page->Controller()->PlaybackStateChanged.HandlerCount(), playback);
}
