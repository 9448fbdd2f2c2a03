#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "Velmora/WebView/WebBridge.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedGameBarWidget.h"

using nlohmann::json;
using testsupport::LogCapture;
using testsupport::ScriptedGameBarWidget;
using utils::PlaybackAction;
using utils::corvana_client::HomeFeedResult;
using utils::corvana_client::HomeSection;
using velmora::WebBridge;
using Size = velmora::WindowSize;

namespace {

// Every command the bridge starts, as one line each.
class RecordingController : public velmora::IBridgeController {
public:
    void ModifyPlaybackState(PlaybackAction action, std::string context) override {
        static const char* names[] = {"Play", "Pause", "Resume", "Previous", "Next"};
        Record(std::string("ModifyPlaybackState ") + names[static_cast<int>(action)] + " [" + context + "]");
    }
    void Seek(int32_t positionMs, bool relative) override {
        Record("Seek " + std::to_string(positionMs) + (relative ? " relative" : " absolute"));
    }
    void SetRepeat(std::string mode) override {
        if (failRepeat) throw std::runtime_error("repeat broke");
        Record("SetRepeat [" + mode + "]");
    }
    void SetShuffle(bool on) override { Record(on ? "SetShuffle on" : "SetShuffle off"); }
    void SetVolume(double volume) override { Record("SetVolume " + json(volume).dump()); }
    void LikeTrack(std::string uri) override { Record("LikeTrack [" + uri + "]"); }
    void UnlikeTrack(std::string uri) override { Record("UnlikeTrack [" + uri + "]"); }
    void TransferPlayback(std::string deviceId) override { Record("TransferPlayback [" + deviceId + "]"); }
    void RequestDevices() override { Record("RequestDevices"); }
    void RequestPlaybackState() override { Record("RequestPlaybackState"); }

    void Record(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }

    bool failRepeat = false;
    std::mutex mutex;
    std::vector<std::string> calls;
};

// The access token as the test sets it, and the one a refresh gives for a refused token, answered at once.
class TestTokens : public velmora::IAccessTokenProvider {
public:
    TestTokens(const std::optional<std::string>& token, const std::optional<std::string>& renewed,
               std::vector<std::string>& rejected)
        : token_(token), renewed_(renewed), rejected_(rejected) {}

    platform::Task<std::optional<std::string>> GetAccessTokenAsync() override { return Answer(token_); }
    platform::Task<std::optional<std::string>> RefreshRejectedAccessTokenAsync(
        std::string rejected) override {
        rejected_.push_back(std::move(rejected));
        return Answer(renewed_);
    }

private:
    static platform::Task<std::optional<std::string>> Answer(std::optional<std::string> token) {
        platform::TaskCompletionSource<std::optional<std::string>> answered;
        answered.TrySetResult(std::move(token));
        return answered.GetTask();
    }

    const std::optional<std::string>& token_;
    const std::optional<std::string>& renewed_;
    std::vector<std::string>& rejected_;
};

struct Fixture {
    Fixture() {
        velmora::WebBridgeSeams seams;
        seams.dispatcher = dispatcher;
        seams.widget = widget;
        seams.controller = controller;
        seams.accessTokens = std::make_shared<TestTokens>(accessToken, renewedToken, rejectedTokens);
        seams.fetchHomeFeed = [this](std::string token) {
            fetchedWith.push_back(token);
            if (heldFeed) return heldFeed->GetTask();
            platform::TaskCompletionSource<HomeFeedResult> done;
            if (fetchError) {
                done.TrySetException(fetchError);
            } else if (refusedTokens.contains(token)) {
                done.TrySetResult({{}, "the web API answered 401", 401});
            } else {
                done.TrySetResult({home, std::nullopt, 200});
            }
            return done.GetTask();
        };
        seams.postWebMessage = [this](const std::string& text) { posted.push_back(json::parse(text)); };
        seams.savePersistedExpandedState = [this](bool expanded) { saved.push_back(expanded); };
        seams.startWindowMove = [this] { ++moves; };
        seams.now = [this] { return now; };
        seams.localCovers = localCovers;
        bridge = WebBridge::Create(std::move(seams));
    }

    std::vector<json> TakePosted() { return std::exchange(posted, {}); }

    std::shared_ptr<platform::ManualDispatcher> dispatcher = platform::ManualDispatcher::Create();
    std::shared_ptr<ScriptedGameBarWidget> widget = std::make_shared<ScriptedGameBarWidget>();
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    std::shared_ptr<utils::LocalCoverGrant> localCovers = std::make_shared<utils::LocalCoverGrant>();
    std::optional<std::string> accessToken;
    std::vector<HomeSection> home;
    std::exception_ptr fetchError;
    std::optional<platform::TaskCompletionSource<HomeFeedResult>> heldFeed;
    std::set<std::string> refusedTokens;  // the feed answers these with 401
    std::optional<std::string> renewedToken;
    std::vector<std::string> rejectedTokens;
    std::vector<std::string> fetchedWith;
    std::vector<json> posted;
    std::vector<bool> saved;
    int moves = 0;
    velmora::PageTrafficLimit::Clock::time_point now;  // the command budgets' clock, moved by the test
    std::shared_ptr<WebBridge> bridge;
};

json LoginEvent(bool loggedIn) {
    return {{"type", "login_state_changed"}, {"loggedIn", loggedIn}};
}

json ExpandedEvent(bool expanded) {
    return {{"type", "expandedState"}, {"isExpanded", expanded}};
}

json DisplayEvent(bool pinnedOnly = false, double opacity = 1) {
    return {{"type", "displayState"}, {"isPinnedOnly", pinnedOnly}, {"opacity", opacity}};
}

}  // namespace

TEST(WebBridge, EachCommandStartsItsControllerCall) {
    struct Case {
        std::string message;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"pausePlayback", {"ModifyPlaybackState Pause []"}},
        {"resumePlayback", {"ModifyPlaybackState Resume []"}},
        {"skipNext", {"ModifyPlaybackState Next []"}},
        {"skipPrevious", {"ModifyPlaybackState Previous []"}},
        {"playContext:corvana:playlist:9", {"ModifyPlaybackState Play [corvana:playlist:9]"}},
        {"playContext:", {"ModifyPlaybackState Play []"}},
        {"setShuffle:true", {"SetShuffle on"}},
        {"setShuffle:TRUE", {"SetShuffle off"}},
        {"setShuffle:", {"SetShuffle off"}},
        {"setShuffle:true ", {"SetShuffle off"}},
        {"setRepeat:track", {"SetRepeat [track]"}},
        {"setRepeat:", {"SetRepeat []"}},
        {"setRepeat:Context:x", {"SetRepeat [Context:x]"}},
        {"setVolume:0.5", {"SetVolume 0.5"}},
        {"setVolume:0.25xyz", {"SetVolume 0.25"}},
        {"setVolume:  0.75", {"SetVolume 0.75"}},
        {"setVolume:+1", {"SetVolume 1.0"}},
        {"setVolume:0", {"SetVolume 0.0"}},
        {"setVolume:-0", {"SetVolume 0.0"}},
        {"setVolume:.5", {"SetVolume 0.5"}},
        {"setVolume:5e-1", {"SetVolume 0.5"}},
        {"setVolume:1.5", {}},
        {"setVolume:-0.1", {}},
        {"setVolume:abc", {}},
        {"setVolume:", {}},
        {"setVolume:nan", {}},
        {"setVolume:NAN", {}},
        {"setVolume:-nan", {}},
        {"setVolume:inf", {}},
        {"setVolume:infinity", {}},
        {"setVolume:0x1p-1", {}},
        {"setVolume:0X.8", {}},
        {"setVolume:1e999", {}},
        {"setVolume:.", {}},
        {"requestDevices", {"RequestDevices"}},
        {"requestPlaybackState", {"RequestPlaybackState"}},
        {"transferPlayback:device-2", {"TransferPlayback [device-2]"}},
        {"transferPlayback:", {"TransferPlayback []"}},
        {"likeTrack:corvana:track:1", {"LikeTrack [corvana:track:1]"}},
        {"likeTrack:corvana:track:\xF0\x9F\x8E\xB5", {"LikeTrack [corvana:track:\xF0\x9F\x8E\xB5]"}},
        {"unlikeTrack:corvana:track:1", {"UnlikeTrack [corvana:track:1]"}},
        {"unlikeTrack:", {"UnlikeTrack []"}},
        {"seekForward15", {"Seek 15000 relative"}},
        {"seekBackward15", {"Seek -15000 relative"}},
        {"seekTo:90000", {"Seek 90000 absolute"}},
        {"seekTo: 42abc", {"Seek 42 absolute"}},
        {"seekTo:+7", {"Seek 7 absolute"}},
        {"seekTo:0", {"Seek 0 absolute"}},
        {"seekTo:2147483647", {"Seek 2147483647 absolute"}},
        {"seekTo:2147483648", {}},
        {"seekTo:4294967296", {}},
        {"seekTo:99999999999999999999999", {}},
        {"seekTo:-5", {}},
        {"seekTo:x", {}},
        {"seekTo:", {}},
        {"seekTo:0x10", {"Seek 0 absolute"}},
        // Whole names must match exactly, prefixes must carry their colon, and case counts.
        {"PausePlayback", {}},
        {"pausePlayback ", {}},
        {"pausePlayback:", {}},
        {"skipNext2", {}},
        {"setShuffle", {}},
        {"seekTo", {}},
        {"SETVOLUME:0.5", {}},
        {"", {}},
        {"nothing", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Fixture f;
        LogCapture log;
        f.bridge->HandleWebMessage(c.message);
        f.dispatcher->RunPending();
        EXPECT_EQ(f.controller->Calls(), c.calls);
        EXPECT_TRUE(f.TakePosted().empty());
        EXPECT_TRUE(f.widget->Resizes().empty());
        EXPECT_TRUE(log.Lines().empty());
    }
}

TEST(WebBridge, LaunchAndSizeCommandsGoToTheWidget) {
    struct Case {
        std::string message;
        std::vector<std::string> launches;
        std::vector<Size> resizes;
    };
    const Case cases[] = {
        {"launchCorvana", {"corvana:open:minimized?utm_medium=desktop-xbox-game-bar"}, {}},
        {"openCorvana", {"corvana:open"}, {}},
        {"launchCorvana:", {}, {}},
        {"setWidgetSize:expanded", {}, {{320, 612}}},
        {"setWidgetSize:collapsed", {}, {{320, 156}}},
        {"setWidgetSize:EXPANDED", {}, {}},
        {"setWidgetSize:", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Fixture f;
        f.widget->QueueResizeResults({false});
        f.bridge->HandleWebMessage(c.message);
        f.dispatcher->RunPending();
        EXPECT_EQ(f.widget->Launches(), c.launches);
        EXPECT_EQ(f.widget->Resizes(), c.resizes);
        // A plain resize changes neither the window setting, the stored state nor the page.
        EXPECT_FALSE(f.widget->VerticalResize().has_value());
        EXPECT_TRUE(f.saved.empty());
        EXPECT_TRUE(f.TakePosted().empty());
        EXPECT_TRUE(f.controller->Calls().empty());
    }
}

TEST(WebBridge, SetExpandedResizesThenStoresAndTellsThePage) {
    struct Case {
        std::string argument;
        bool resizeWorks;
        Size size;
        bool expanded;
    };
    const Case cases[] = {
        {"true", true, {320, 612}, true},  {"false", true, {320, 156}, false},
        {"True", true, {320, 156}, false}, {"", true, {320, 156}, false},
        {"true", false, {320, 612}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument + (c.resizeWorks ? " resized" : " not resized"));
        Fixture f;
        LogCapture log;
        f.widget->QueueResizeResults({c.resizeWorks});
        f.bridge->HandleWebMessage("setExpanded:" + c.argument);
        EXPECT_EQ(f.widget->Resizes(), std::vector<Size>{c.size});
        // The rest happens on the UI thread after the resize, never inside the message handler.
        EXPECT_TRUE(f.saved.empty());
        f.dispatcher->RunPending();
        if (c.resizeWorks) {
            EXPECT_EQ(f.widget->VerticalResize(), c.expanded);
            EXPECT_EQ(f.widget->HorizontalResize(), c.expanded);
            EXPECT_EQ(f.saved, std::vector<bool>{c.expanded});
            EXPECT_EQ(f.TakePosted(), std::vector<json>{ExpandedEvent(c.expanded)});
            EXPECT_TRUE(log.Lines().empty());
        } else {
            EXPECT_FALSE(f.widget->VerticalResize().has_value());
            EXPECT_TRUE(f.saved.empty());
            EXPECT_TRUE(f.TakePosted().empty());
            EXPECT_EQ(log.Lines(),
                      std::vector<std::string>{"ERROR CorvanaWidgetWebview: setExpanded resize failed"});
        }
    }
}

TEST(WebBridge, RunsThatWaitEndQuietlyOnceTheBridgeIsGone) {
    Fixture f;
    LogCapture log;
    f.widget->HoldResizes(true);
    f.accessToken = "token";
    f.heldFeed.emplace();
    f.bridge->HandleWebMessage("setExpanded:true");
    f.bridge->HandleWebMessage("requestHome");
    ASSERT_EQ(f.widget->HeldResizes(), 1u);
    ASSERT_EQ(f.fetchedWith.size(), 1u);

    f.bridge.reset();
    f.widget->ReleaseResizes(true);
    f.heldFeed->TrySetResult(
        {{{"s", {{"i", "track", "corvana:track:1", {}, {}, {}, {}, {}, {}}}}}, std::nullopt, 200});
    f.dispatcher->RunPending();
    EXPECT_TRUE(f.saved.empty());
    EXPECT_TRUE(f.TakePosted().empty());
    EXPECT_FALSE(f.widget->VerticalResize().has_value());
    EXPECT_TRUE(log.Lines().empty());
}

TEST(WebBridge, AppReadyFlushesTheLatestPendingStatesOnce) {
    using Step = std::function<void(WebBridge&)>;
    auto login = [](bool loggedIn, bool expanded) -> Step {
        return [=](WebBridge& b) { b.ReportLoginState(loggedIn, expanded); };
    };
    auto say = [](std::string message) -> Step { return [=](WebBridge& b) { b.HandleWebMessage(message); }; };
    const Step unload = [](WebBridge& b) { b.PageUnloaded(); };
    struct Case {
        std::string name;
        std::vector<Step> steps;
        std::vector<json> posted;
    };
    // Each page's first "appReady" is followed by how the host shows the widget.
    const Case cases[] = {
        {"signed in before the page was ready",
         {login(true, true), say("appReady")},
         {LoginEvent(true), ExpandedEvent(true), DisplayEvent()}},
        {"only the latest of two changes",
         {login(true, true), login(true, false), say("appReady")},
         {LoginEvent(true), ExpandedEvent(false), DisplayEvent()}},
        {"signed out: no expanded state",
         {login(true, true), login(false, true), say("appReady")},
         {LoginEvent(false), DisplayEvent()}},
        {"appReady twice",
         {login(true, true), say("appReady"), say("appReady")},
         {LoginEvent(true), ExpandedEvent(true), DisplayEvent()}},
        {"nothing pending", {say("appReady")}, {DisplayEvent()}},
        {"posted at once while ready",
         {say("appReady"), login(true, false), login(false, false)},
         {DisplayEvent(), LoginEvent(true), ExpandedEvent(false), LoginEvent(false)}},
        {"not ready again after an unload", {say("appReady"), unload, login(false, false)}, {DisplayEvent()}},
        {"an unload drops the pending login state",
         {login(false, false), unload, say("appReady")},
         {DisplayEvent()}},
        {"a reloaded page gets the states on its own appReady",
         {say("appReady"), unload, login(true, true), say("appReady")},
         {DisplayEvent(), LoginEvent(true), ExpandedEvent(true), DisplayEvent()}},
        {"appReady must match whole", {login(true, true), say("appReady:"), say("appready")}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        for (const auto& step : c.steps) step(*f.bridge);
        f.dispatcher->RunPending();
        EXPECT_EQ(f.TakePosted(), c.posted);
    }
}

TEST(WebBridge, TheDisplayStateReachesAReadyPageAsTheHostHasIt) {
    Fixture f;
    f.widget->ChangeDisplayMode(platform::GameBarDisplayMode::PinnedOnly);
    f.widget->ChangeOpacity(0.3);
    f.bridge->ReportDisplayState();  // not ready: kept for "appReady", which reads the host anew
    EXPECT_EQ(f.TakePosted(), std::vector<json>{});
    f.bridge->HandleWebMessage("appReady");
    EXPECT_EQ(f.TakePosted(), std::vector<json>{DisplayEvent(true, 0.3)});
    f.widget->ChangeDisplayMode(platform::GameBarDisplayMode::Foreground);
    f.bridge->ReportDisplayState();
    EXPECT_EQ(f.TakePosted(), std::vector<json>{DisplayEvent(false, 0.3)});
    f.bridge->PageUnloaded();
    f.bridge->ReportDisplayState();
    EXPECT_EQ(f.TakePosted(), std::vector<json>{});
}

TEST(WebBridge, StartWindowMoveAsksTheHostToMoveTheWindow) {
    Fixture f;
    for (const char* message : {"startWindowMove", "startWindowMove:", "startwindowmove", "startWindowMove"})
        f.bridge->HandleWebMessage(message);
    EXPECT_EQ(f.moves, 2);
}

TEST(WebBridge, ARefusedTokenIsRefreshedAndTheFeedAskedForOnceMore) {
    HomeSection section{"Made for you", {{"Mix", "playlist", "corvana:playlist:1", {}, {}, {}, {}, {}, {}}}};
    struct Case {
        std::string name;
        std::optional<std::string> renewed;
        std::set<std::string> refused;
        std::vector<std::string> fetchedWith;
        size_t posted;
    };
    const Case cases[] = {
        {"the renewed token is taken", "new", {"old"}, {"old", "new"}, 1},
        {"no renewed token: nothing more is asked", std::nullopt, {"old"}, {"old"}, 0},
        {"the renewed token refused too: no third try", "new", {"old", "new"}, {"old", "new"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.accessToken = "old";
        f.renewedToken = c.renewed;
        f.refusedTokens = c.refused;
        f.home = {section};
        f.bridge->HandleWebMessage("requestHome");
        f.dispatcher->RunPending();
        EXPECT_EQ(f.fetchedWith, c.fetchedWith);
        EXPECT_EQ(f.rejectedTokens, std::vector<std::string>{"old"});
        EXPECT_EQ(f.TakePosted().size(), c.posted);
    }
}

TEST(WebBridge, RequestHomePostsTheFeedItFetched) {
    HomeSection section{"Made for you", {{"Mix", "playlist", "corvana:playlist:1", {}, {}, {}, {}, {}, {}}}};
    struct Case {
        std::string name;
        std::optional<std::string> token;
        std::vector<HomeSection> home;
        std::vector<std::string> fetchedWith;
        size_t posted;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"signed in", "token-1", {section}, {"token-1"}, 1, {}},
        {"an empty feed posts nothing", "token-1", {}, {"token-1"}, 0, {}},
        {"no token",
         std::nullopt,
         {section},
         {},
         0,
         {"ERROR CorvanaWidgetWebview: requestHome - no auth token available"}},
        {"an empty token",
         "",
         {section},
         {},
         0,
         {"ERROR CorvanaWidgetWebview: requestHome - no auth token available"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        LogCapture log;
        f.accessToken = c.token;
        f.home = c.home;
        f.bridge->HandleWebMessage("requestHome");
        f.dispatcher->RunPending();
        EXPECT_EQ(f.fetchedWith, c.fetchedWith);
        auto posted = f.TakePosted();
        ASSERT_EQ(posted.size(), c.posted);
        if (!posted.empty()) {
            EXPECT_EQ(posted[0]["type"], "homeContent");
            EXPECT_EQ(posted[0]["sections"][0]["name"], "Made for you");
        }
        EXPECT_EQ(log.Lines(), c.log);
    }
}

TEST(WebBridge, AFailingCommandIsLoggedAndLaterOnesStillRun) {
    struct Case {
        std::string name;
        std::function<void(Fixture&)> arrange;
        std::string message;
        std::string line;
    };
    const Case cases[] = {
        {"a controller call throws", [](Fixture& f) { f.controller->failRepeat = true; }, "setRepeat:track",
         "ERROR CorvanaWidgetWebview::HandleWebMessage - \"setRepeat:\" failed: repeat broke"},
        {"the home feed fails",
         [](Fixture& f) {
             f.accessToken = "t";
             f.fetchError = std::make_exception_ptr(platform::PlatformError(platform::E_FAIL, "feed down"));
         },
         "requestHome", "ERROR CorvanaWidgetWebview::HandleWebMessage - \"requestHome\" failed: "},
        {"the launch fails",
         [](Fixture& f) {
             f.widget->FailNextLaunch(std::make_exception_ptr(std::runtime_error("no handler")));
         },
         "openCorvana", "ERROR CorvanaWidgetWebview::HandleWebMessage - \"openCorvana\" failed: no handler"},
        {"the dispatcher is gone before the resize is applied", [](Fixture& f) { f.dispatcher->Shutdown(); },
         "setExpanded:true", "ERROR CorvanaWidgetWebview::HandleWebMessage - \"setExpanded:\" failed: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        LogCapture log;
        c.arrange(f);
        f.bridge->HandleWebMessage(c.message);
        // A refused hand-over to the UI thread fails its await from a pool thread, so the line may come
        // after the pump.
        f.dispatcher->RunUntil([&] { return !log.Lines().empty(); });
        auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].starts_with(c.line)) << lines[0];
        EXPECT_TRUE(f.TakePosted().empty());

        f.bridge->HandleWebMessage("pausePlayback");
        EXPECT_EQ(f.controller->Calls().back(), "ModifyPlaybackState Pause []");
    }
}

TEST(WebBridge, MessagesThatCannotBeCommandsAreIgnoredWithALogLine) {
    const std::string megabyte(1 << 20, 'a');
    struct Case {
        std::string name;
        std::string message;
        std::string line;
    };
    const Case cases[] = {
        {"1 MB", "setRepeat:" + megabyte,
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message of 1048586 bytes"},
        {"1 MB unknown", megabyte,
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message of 1048576 bytes"},
        {"NUL after a whole name", std::string("pausePlayback\0", 14),
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message with a NUL character"},
        {"NUL in an argument", std::string("likeTrack:a\0b", 13),
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message with a NUL character"},
        {"stray continuation byte", "likeTrack:\x80",
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message that is not valid UTF-8"},
        {"truncated sequence", "likeTrack:\xE2\x82",
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message that is not valid UTF-8"},
        {"overlong slash", "likeTrack:\xC0\xAF",
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message that is not valid UTF-8"},
        {"lone surrogate", "likeTrack:\xED\xA0\x80",
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message that is not valid UTF-8"},
        {"beyond U+10FFFF", "likeTrack:\xF4\x90\x80\x80",
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message that is not valid UTF-8"},
        {"0xFF", "setVolume:\xFF",
         "ERROR CorvanaWidgetWebview::HandleWebMessage - ignored a message that is not valid UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        LogCapture log;
        f.bridge->HandleWebMessage(c.message);
        f.dispatcher->RunPending();
        EXPECT_TRUE(f.controller->Calls().empty());
        EXPECT_EQ(log.Lines(), std::vector<std::string>{c.line});
    }
    // The longest message still taken as a command.
    Fixture f;
    const std::string longest = "likeTrack:" + std::string(WebBridge::kMaxMessageBytes - 10, 'u');
    f.bridge->HandleWebMessage(longest);
    ASSERT_EQ(f.controller->Calls().size(), 1u);
    EXPECT_EQ(f.controller->Calls()[0].size(), std::string("LikeTrack []").size() + longest.size() - 10);
}

TEST(WebBridge, MessagesThatMatchNoCommandAreIgnoredWithoutALogLine) {
    Fixture f;
    LogCapture log;
    for (std::string message :
         {std::string("bogus"), std::string(), std::string("PAUSEPLAYBACK"), std::string("pausePlaybackNow"),
          std::string("\xFF\xFE\x80"), std::string("\0\0", 2), std::string("x\0setVolume:0.5", 15),
          std::string("\xED\xA0\x80likeTrack:a"), std::string(60000, 'z')}) {
        f.bridge->HandleWebMessage(message);
    }
    f.dispatcher->RunPending();
    EXPECT_TRUE(f.controller->Calls().empty());
    EXPECT_TRUE(f.widget->Launches().empty());
    EXPECT_TRUE(log.Lines().empty()) << log.Lines().front();
}

TEST(WebBridge, AFloodFromThePageIsBoundPerKindWithOneErrorLineASecond) {
    using namespace std::chrono_literals;
    Fixture f;
    LogCapture log;
    auto send = [&](const std::string& message, int times) {
        for (int i = 0; i < times; ++i) f.bridge->HandleWebMessage(message);
        f.dispatcher->RunPending();
    };
    auto count = [&](const std::string& call) {
        auto calls = f.controller->Calls();
        return std::count(calls.begin(), calls.end(), call);
    };
    send("skipPrevious", 1000);
    send("pausePlayback", 1000);  // a budget of its own
    send("launchCorvana", 5);     // one a second
    send("openCorvana", 5);
    EXPECT_EQ(count("ModifyPlaybackState Previous []"), 20);
    EXPECT_EQ(count("ModifyPlaybackState Pause []"), 20);
    EXPECT_EQ(f.widget->Launches().size(), 2u);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR CorvanaWidgetWebview::HandleWebMessage - dropped "
                                                    "\"skipPrevious\": the page sent more than 20 a second"});

    // A second on: the budgets are full again, and the next line counts the drops it held back.
    f.now += 1s;
    send("skipPrevious", 1000);
    send("openCorvana", 2);
    EXPECT_EQ(count("ModifyPlaybackState Previous []"), 40);
    EXPECT_EQ(f.widget->Launches().size(), 3u);
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[1],
              "ERROR CorvanaWidgetWebview::HandleWebMessage - dropped \"skipPrevious\": the page sent more "
              "than 20 a second (and 1967 more since the last such line)");

    // The budget refills evenly: one more a twentieth of a second later.
    f.now += 50ms;
    send("skipPrevious", 3);
    EXPECT_EQ(count("ModifyPlaybackState Previous []"), 41);
    // Oversized and invalid messages share the line budget.
    send(std::string(WebBridge::kMaxMessageBytes + 1, 'a'), 100);
    EXPECT_EQ(log.Lines().size(), 2u);
}

TEST(WebBridge, CommandsAtAPlayersPaceAreEachHandledAndLeaveNothingBehind) {
    using namespace std::chrono_literals;
    Fixture f;
    LogCapture log;
    f.accessToken = "t";
    f.home = {{"s", {{"i", "track", "corvana:track:1", {}, {}, {}, {}, {}, {}}}}};
    const std::vector<std::string> mix = {"pausePlayback", "setVolume:0.5", "setExpanded:true",
                                          "requestHome",   "bogus",         "seekTo:-1"};
    // Each kind once every 60 ms: within its budget.
    for (int i = 0; i < 10000; ++i) {
        f.bridge->HandleWebMessage(mix[i % mix.size()]);
        f.now += 10ms;
    }
    f.dispatcher->RunPending();
    const size_t rounds = 10000 / mix.size() + 1;  // 10,000 = 1666 full rounds and 4 more messages
    EXPECT_EQ(f.controller->Calls().size(), 2 * rounds);
    EXPECT_EQ(f.widget->Resizes().size(), rounds);
    EXPECT_EQ(f.fetchedWith.size(), rounds);
    EXPECT_EQ(f.TakePosted().size(), 2 * rounds);  // one expanded state and one feed per round
    EXPECT_EQ(f.dispatcher->PendingCount(), 0u);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(WebBridge, APlayersLocalCoverIsServedUnderThePagesOriginOnlyWhileItsStateIsTheLast) {
    Fixture f;
    auto post = [&](const std::string& image) {
        desktop_api_types::PlaybackStateResponse state;
        state.track = desktop_api_types::PlaybackTrack{};
        state.track->image = image;
        f.bridge->PostPlaybackState(state);
        f.dispatcher->RunPending();
        return f.TakePosted().at(0)["track"];
    };
    const json local = post("file:///music/cover%20art.png");
    EXPECT_EQ(local["image"], "file:///music/cover%20art.png");  // as the record has it
    const std::string url = local["localImage"];
    ASSERT_TRUE(url.starts_with("velmora-app://widget.invalid/local-cover/")) << url;
    const uint64_t number = std::stoull(url.substr(url.rfind('/') + 1));
    EXPECT_EQ(f.localCovers->PathOf(number), "/music/cover art.png");
    EXPECT_EQ(post("file:///music/cover%20art.png")["localImage"], url);  // the same cover: the same address

    const json remote = post("https://images.example/c.png");
    EXPECT_FALSE(remote.contains("localImage"));
    EXPECT_EQ(f.localCovers->PathOf(number), std::nullopt);
}

TEST(WebBridge, ControllerEventsArePostedOnTheUiThreadWithoutWaitingForAppReady) {
    Fixture f;
    desktop_api_types::PlaybackStateResponse state;
    state.is_active = true;
    desktop_api_types::ConnectClusterResponse cluster;
    cluster.active_device_id = "d1";
    std::thread raiser([&] {
        f.bridge->PostPlaybackState(state);
        f.bridge->PostActiveDevice({"d1", true});
        f.bridge->PostDeviceList(cluster);
    });
    raiser.join();
    EXPECT_TRUE(f.posted.empty());
    f.dispatcher->RunPending();
    auto posted = f.TakePosted();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0]["type"], "playbackState");
    EXPECT_EQ(posted[1], json({{"type", "activeDevice"}, {"isLocal", true}}));
    EXPECT_EQ(posted[2]["activeDeviceId"], "d1");

    // Events raised while the page is going away are dropped.
    f.bridge->PostActiveDevice({"d1", false});
    f.bridge.reset();
    f.dispatcher->RunPending();
    EXPECT_TRUE(f.posted.empty());
}

TEST(WebBridge, CreateRefusesMissingSeams) {
    Fixture f;
    velmora::WebBridgeSeams seams;
    seams.dispatcher = f.dispatcher;
    seams.widget = f.widget;
    seams.accessTokens = std::make_shared<TestTokens>(f.accessToken, f.renewedToken, f.rejectedTokens);
    seams.postWebMessage = [](const std::string&) {};
    seams.savePersistedExpandedState = [](bool) {};
    try {
        WebBridge::Create(seams);
        FAIL() << "a bridge without a controller was created";
    } catch (const platform::PlatformError& error) {
        EXPECT_EQ(error.code(), platform::E_POINTER);
    }
}
