#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Platform/Foundation/PlatformError.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "tests/support/FakeDesktopConnection.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono_literals;
using namespace desktop_api_types;
using platform::Value;
using platform::ValueKind;
using platform::ValueSet;
using testsupport::FakeDesktopConnection;
using utils::DesktopAPIController;
using utils::PlaybackAction;
using utils::WidgetMode;
using Response = utils::IDesktopAPIConnection::Response;

namespace {

struct Fixture {
    explicit Fixture(WidgetMode mode = WidgetMode::Native, std::chrono::nanoseconds period = 20ms)
        : script(std::make_shared<FakeDesktopConnection::Script>()),
          controller(
              DesktopAPIController::Create(std::make_unique<FakeDesktopConnection>(script), mode, period)) {}

    std::shared_ptr<FakeDesktopConnection::Script> script;
    std::shared_ptr<DesktopAPIController> controller;
};

ValueSet ErrorObject(std::optional<std::string> message) {
    ValueSet error{{"code", Value(int32_t{5})}};
    if (message) error.Insert("message", Value(*message));
    return error;
}

ValueSet Restrictions() {
    return testsupport::NoRestrictions();
}

ValueSet Playback(bool withTrack) {
    ValueSet state{{"type", Value("track")},
                   {"timestamp", Value("1")},
                   {"is_active", Value(true)},
                   {"is_paused", Value(true)},
                   {"shuffle", Value(false)},
                   {"repeat", Value("off")},
                   {"restrictions", Value(Restrictions())}};
    if (withTrack) {
        state.Insert("track", Value(ValueSet{{"uri", Value("corvana:track:7")},
                                             {"name", Value("n")},
                                             {"artist", Value("a")},
                                             {"album", Value("b")},
                                             {"image", Value("i")},
                                             {"is_advertisement", Value(false)},
                                             {"is_in_collection", Value(false)},
                                             {"can_add_to_collection", Value(true)}}));
    }
    return state;
}

template <typename T>
struct Recorder {
    void Attach(utils::Event<T>& event) {
        event.Add([this](const T& value) {
            std::lock_guard lock(mutex);
            values.push_back(value);
        });
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return values.size();
    }
    bool WaitFor(size_t count) {
        for (int i = 0; i < 2500 && Count() < count; ++i) std::this_thread::sleep_for(2ms);
        return Count() >= count;
    }
    T At(size_t i) {
        std::lock_guard lock(mutex);
        return values.at(i);
    }
    std::mutex mutex;
    std::vector<T> values;
};

}  // namespace

TEST(DesktopController, EveryCommandSendsItsMethodAndParametersWithTheirKinds) {
    struct Case {
        std::function<void(DesktopAPIController&)> command;
        std::string method;
        ValueSet params;
    };
    std::vector<Case> cases{
        {[](auto& c) { c.ModifyPlaybackState(PlaybackAction::Play, "corvana:playlist:é1"); }, "playback_play",
         ValueSet{{"context", Value("corvana:playlist:é1")}}},
        {[](auto& c) { c.ModifyPlaybackState(PlaybackAction::Pause, "ignored"); }, "playback_pause", {}},
        {[](auto& c) { c.ModifyPlaybackState(PlaybackAction::Resume); }, "playback_resume", {}},
        {[](auto& c) { c.ModifyPlaybackState(PlaybackAction::Previous); }, "playback_previous", {}},
        {[](auto& c) { c.ModifyPlaybackState(PlaybackAction::Next); }, "playback_next", {}},
        {[](auto& c) { c.Seek(-15000, true); }, "playback_seek",
         ValueSet{{"position_ms", Value(int32_t{-15000})}, {"is_relative", Value(true)}}},
        {[](auto& c) { c.SetRepeat("context"); }, "playback_repeat", ValueSet{{"repeat", Value("context")}}},
        {[](auto& c) { c.SetShuffle(true); }, "playback_shuffle", ValueSet{{"shuffle", Value(true)}}},
        {[](auto& c) { c.SetVolume(0.37); }, "playback_volume", ValueSet{{"volume_percentage", Value(0.37)}}},
        {[](auto& c) { c.LikeTrack("corvana:track:1"); }, "library_add",
         ValueSet{{"uris", Value(std::vector<std::string>{"corvana:track:1"})}}},
        {[](auto& c) { c.UnlikeTrack("corvana:track:2"); }, "library_remove",
         ValueSet{{"uris", Value(std::vector<std::string>{"corvana:track:2"})}}},
        {[](auto& c) { c.TransferPlayback("device-9"); }, "connect_transfer",
         ValueSet{{"device_id", Value("device-9")}}},
        {[](auto& c) { c.RequestDevices(); }, "connect_cluster", {}},
        {[](auto& c) { c.RequestPlaybackState(); }, "playback_state_request", {}},
    };
    for (const auto& c : cases) {
        Fixture f;
        c.command(*f.controller);
        ASSERT_TRUE(f.script->WaitForRequests(1)) << c.method;
        auto requests = f.script->Requests();
        ASSERT_EQ(requests.size(), 1u) << c.method;
        EXPECT_EQ(requests[0].method, c.method);
        // ValueSet equality compares kinds too: an int32 never equals a double of the same number.
        EXPECT_EQ(requests[0].params, c.params) << c.method;
    }
}

TEST(DesktopController, ErrorResponsesLogWhatEachCommandPromises) {
    struct Case {
        std::string name;
        std::string method;
        Response answer;
        std::function<void(DesktopAPIController&)> command;
        std::vector<std::string> lines;
    };
    std::vector<Case> cases{
        {"next with a message",
         "playback_next",
         Response{true, ErrorObject("no next track")},
         [](auto& c) { c.ModifyPlaybackState(PlaybackAction::Next); },
         {"ERROR DesktopAPIController Error: playback_next - no next track",
          "ERROR DesktopAPIController: ModifyPlaybackState failed"}},
        {"pause without a message",
         "playback_pause",
         Response{true, ErrorObject(std::nullopt)},
         [](auto& c) { c.ModifyPlaybackState(PlaybackAction::Pause); },
         {"ERROR DesktopAPIController Error: ", "ERROR DesktopAPIController: ModifyPlaybackState failed"}},
        {"pause, transport failure",
         "playback_pause",
         Response{true, {}},
         [](auto& c) { c.ModifyPlaybackState(PlaybackAction::Pause); },
         {"ERROR DesktopAPIController: ModifyPlaybackState failed"}},
        {"seek",
         "playback_seek",
         Response{true, ErrorObject("bad position")},
         [](auto& c) { c.Seek(1, false); },
         {"ERROR DesktopAPIController: Seek failed"}},
        {"volume, transport failure",
         "playback_volume",
         Response{true, {}},
         [](auto& c) { c.SetVolume(0.5); },
         {"ERROR DesktopAPIController: SetVolume failed"}},
        {"transfer",
         "connect_transfer",
         Response{true, ErrorObject("x")},
         [](auto& c) { c.TransferPlayback("d"); },
         {"ERROR DesktopAPIController: TransferPlayback failed"}},
        {"devices",
         "connect_cluster",
         Response{true, ErrorObject("x")},
         [](auto& c) { c.RequestDevices(); },
         {}},
        {"playback state",
         "playback_state_request",
         Response{true, ErrorObject("x")},
         [](auto& c) { c.RequestPlaybackState(); },
         {}},
        {"devices that do not parse",
         "connect_cluster",
         Response{false, ValueSet{{"x", Value(true)}}},
         [](auto& c) { c.RequestDevices(); },
         {"ERROR DesktopAPIController: RequestDevices failed"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        Recorder<ConnectClusterResponse> devices;
        devices.Attach(f.controller->DevicesChanged);
        f.script->Answer(c.method, c.answer);
        testsupport::LogCapture log;
        c.command(*f.controller);
        EXPECT_EQ(log.Lines(), c.lines) << c.name;
        EXPECT_EQ(devices.Count(), 0u) << c.name;
    }
}

TEST(DesktopController, ANoChannelFailureEndsInTheFailureLine) {
    Fixture f;
    f.script->Fail("library_add", std::make_exception_ptr(platform::PlatformError(platform::E_UNEXPECTED)));
    testsupport::LogCapture log;
    EXPECT_FALSE(f.controller->LikeTrackAsync("u").Get());
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR DesktopAPIController: LikeTrack failed"});
}

TEST(DesktopController, DeviceAndPlaybackRequestsRaiseTheirEvents) {
    Fixture f;
    Recorder<ConnectClusterResponse> devices;
    Recorder<PlaybackStateResponse> playback;
    devices.Attach(f.controller->DevicesChanged);
    playback.Attach(f.controller->PlaybackStateChanged);
    ValueSet device{
        {"device_id", Value("d0")},     {"name", Value("Desk")},    {"device_type", Value("computer")},
        {"volume", Value(int32_t{10})}, {"is_active", Value(true)}, {"is_local", Value(true)},
        {"is_self", Value(true)}};
    f.script->Answer("connect_cluster",
                     Response{false, ValueSet{{"active_device_id", Value("d0")},
                                              {"devices", Value(ValueSet{{"_count", Value(int32_t{1})},
                                                                         {"0", Value(device)}})}}});
    f.script->Answer("playback_state_request", Response{false, Playback(true)});
    EXPECT_TRUE(f.controller->RequestDevicesAsync().Get());
    EXPECT_TRUE(f.controller->RequestPlaybackStateAsync().Get());
    ASSERT_EQ(devices.Count(), 1u);
    EXPECT_EQ(devices.At(0).devices.at(0).name, "Desk");
    ASSERT_EQ(playback.Count(), 1u);
    EXPECT_EQ(playback.At(0).track->uri, "corvana:track:7");
}

TEST(DesktopController, ConnectedMessageRunsTheHandshakeInOrderWithTheModesFeature) {
    for (auto [mode, feature] : std::vector<std::pair<WidgetMode, std::string>>{
             {WidgetMode::Native, "msft-gamebar-widget-v3-native"},
             {WidgetMode::WebView, "msft-gamebar-widget-v3-webview"}}) {
        Fixture f(mode);
        Recorder<ConnectionStateResponse> states;
        states.Attach(f.controller->ConnectionStateChanged);
        testsupport::LogCapture log;
        f.script->Push("connection_state_changed", ValueSet{{"connected", Value("true")}});
        ASSERT_TRUE(f.script->WaitForRequests(2));
        std::this_thread::sleep_for(20ms);
        auto requests = f.script->Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].method, "client_connection_setup");
        EXPECT_EQ(requests[0].params, (ValueSet{{"client_id", Value("5e0c9a7d2b4f4e61a8d3c7b90f1e2a46")},
                                                {"feature_identifier", Value(feature)}}));
        EXPECT_EQ(requests[1].method, "login_state_subscription");
        ASSERT_EQ(states.Count(), 1u);
        EXPECT_TRUE(states.At(0).connected);
        EXPECT_TRUE(log.Contains("INFO DesktopAPIController: Desktop app connected"));
    }
}

TEST(DesktopController, AFailedIdentificationStillSubscribesToTheLoginState) {
    Fixture f(WidgetMode::Native, 10s);  // the reconnect that follows the failures comes after these lines
    f.script->Answer("client_connection_setup", Response{true, ErrorObject("unknown client")});
    f.script->Answer("login_state_subscription", Response{true, ErrorObject(std::nullopt)});
    testsupport::LogCapture log;
    f.script->Push("connection_state_changed", ValueSet{{"connected", Value("true")}});
    ASSERT_TRUE(log.WaitFor("ERROR DesktopAPIController: login_state_subscription failed"));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "INFO DesktopAPIController: Desktop app connected",
                               "ERROR DesktopAPIController Error: client_connection_setup - unknown client",
                               "ERROR DesktopAPIController: IdentifyWithClientID failed",
                               "ERROR DesktopAPIController Error: ",
                               "ERROR DesktopAPIController: login_state_subscription failed"}));
}

TEST(DesktopController, AFailedHandshakeOrSubscriptionStepReconnectsAfterTheRetryPeriod) {
    for (std::string failing : {"", "client_connection_setup", "login_state_subscription",
                                "playback_state_subscription", "connect_active_device_subscription"}) {
        SCOPED_TRACE(failing.empty() ? "nothing fails" : failing);
        Fixture f;
        if (!failing.empty()) f.script->Answer(failing, Response{true, ErrorObject("busy")});
        testsupport::LogCapture log;
        f.script->Push("connection_state_changed", ValueSet{{"connected", Value("true")}});
        ASSERT_TRUE(f.script->WaitForRequests(2));
        f.script->Push("login_state_subscription", ValueSet{{"logged_in", Value(true)}});
        ASSERT_TRUE(f.script->WaitForRequests(4));
        if (failing.empty()) {
            std::this_thread::sleep_for(100ms);  // five retry periods
            EXPECT_EQ(f.script->ConnectCalls(), 0);
            continue;
        }
        ASSERT_TRUE(f.script->WaitForConnects(1));
        EXPECT_EQ(f.script->DisconnectCalls(), 1);
        EXPECT_TRUE(
            log.Contains("INFO DesktopAPIController: Reconnecting after a failed handshake or subscription"));
    }
}

TEST(DesktopController, AFailedStepOfANewLinkReconnectsWhileAnOlderLinksReconnectIsStillPending) {
    // Long enough for the second link to start and fail before the first link's reconnect is due.
    Fixture f(WidgetMode::Native, 500ms);
    for (int link = 0; link < 2; ++link)
        f.script->Answer("client_connection_setup", Response{true, ErrorObject("busy")});
    f.script->Push("connection_state_changed", ValueSet{{"connected", Value("true")}});
    ASSERT_TRUE(f.script->WaitForRequests(2));  // the first link's reconnect is scheduled by now
    f.script->Push("connection_state_changed", ValueSet{{"connected", Value("true")}});
    ASSERT_TRUE(f.script->WaitForRequests(4));
    // The first link's reconnect comes to nothing, as a newer link has started; the second link's must not.
    ASSERT_TRUE(f.script->WaitForConnects(1));
    EXPECT_EQ(f.script->DisconnectCalls(), 1);
}

TEST(DesktopController, DisconnectedMessageReconnectsAndReportsDisconnectedTwice) {
    Fixture f;
    Recorder<ConnectionStateResponse> states;
    states.Attach(f.controller->ConnectionStateChanged);
    f.script->Push("connection_state_changed", ValueSet{{"connected", Value("false")}});
    ASSERT_TRUE(f.script->WaitForConnects(1));
    ASSERT_EQ(states.Count(), 2u);
    EXPECT_FALSE(states.At(0).connected);
    EXPECT_FALSE(states.At(1).connected);
    EXPECT_EQ(f.script->DisconnectCalls(), 1);
}

TEST(DesktopController, LoginStateDrivesThePlaybackAndDeviceSubscriptions) {
    Fixture f;
    Recorder<LoginStateResponse> logins;
    logins.Attach(f.controller->LoginStateChanged);
    testsupport::LogCapture log;

    f.script->Push("login_state_subscription", ValueSet{{"logged_in", Value(false)}});
    EXPECT_TRUE(log.Contains("INFO DesktopAPIController: User logged out"));
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(f.script->Requests().empty());

    f.script->Push("login_state_subscription", ValueSet{{"logged_in", Value(true)}});
    ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: Connect active device subscription succeeded"));
    EXPECT_EQ(f.script->Methods(), (std::vector<std::string>{"playback_state_subscription",
                                                             "connect_active_device_subscription"}));
    EXPECT_EQ(logins.Count(), 2u);
    EXPECT_TRUE(log.Contains("INFO DesktopAPIController: Playback state subscription succeeded"));
}

TEST(DesktopController, PushedPlaybackAndDeviceStatesBecomeEvents) {
    Fixture f;
    Recorder<PlaybackStateResponse> playback;
    Recorder<ConnectActiveDeviceResponse> active;
    playback.Attach(f.controller->PlaybackStateChanged);
    active.Attach(f.controller->ActiveDeviceChanged);
    testsupport::LogCapture log;

    f.script->Push("playback_state_subscription", Playback(false));
    f.script->Push("playback_state_subscription", Playback(true));
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{
                  "INFO DesktopAPIController: Playback state received - is_active: true, is_paused: true",
                  "INFO DesktopAPIController: Playback state received - is_active: true, is_paused: "
                  "true, track: corvana:track:7"}));
    EXPECT_EQ(playback.Count(), 2u);

    f.script->Push("connect_active_device_subscription",
                   ValueSet{{"active_device_id", Value("d2")}, {"is_local", Value(false)}});
    ASSERT_EQ(active.Count(), 1u);
    EXPECT_EQ(active.At(0).active_device_id, "d2");
    ASSERT_TRUE(f.script->WaitForRequests(1));
    EXPECT_EQ(f.script->Methods(), std::vector<std::string>{"connect_cluster"});

    f.script->Push("something_new", ValueSet{});  // acknowledged and ignored
    EXPECT_EQ(playback.Count(), 2u);
}

TEST(DesktopController, AFailedConnectStartsOneRetryLoopAtATime) {
    Fixture f;
    f.script->ConnectResults({false});
    testsupport::LogCapture log;
    f.controller->ConnectAsync().Get();
    EXPECT_TRUE(
        log.Contains("ERROR DesktopAPIController: AppService connection failed, starting retry loop"));

    // The loop's first attempt comes after one period; hold it there.
    f.script->HoldConnect();
    ASSERT_TRUE(f.script->WaitForConnects(2));
    // Two more failure reports while the loop runs: the channel closing and another failed ConnectAsync.
    f.script->Close();
    auto second = f.controller->ConnectAsync();
    ASSERT_TRUE(f.script->WaitForConnects(3));
    f.script->ReleaseConnect(false);
    second.Get();
    EXPECT_EQ(log.Count("ERROR DesktopAPIController: AppService connection failed, starting retry loop"), 2u);

    // One loop makes one attempt per period and is held again; a second loop would make it five.
    ASSERT_TRUE(f.script->WaitForConnects(4));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(f.script->ConnectCalls(), 4);

    f.script->StopHolding();
    f.script->ReleaseConnect(true);  // the loop ends
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(f.script->ConnectCalls(), 4);
    f.script->Close();  // a new loop may start now
    EXPECT_TRUE(f.script->WaitForConnects(5));
}

TEST(DesktopController, DestroyingTheControllerWhileItsRetryLoopWaitsEndsTheLoop) {
    auto f = std::make_unique<Fixture>(WidgetMode::Native, 300ms);
    auto script = f->script;
    script->ConnectResults({false});
    f->controller->ConnectAsync().Get();
    auto start = std::chrono::steady_clock::now();
    f.reset();  // waits for the loop to notice, within one period
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    int calls = script->ConnectCalls();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(script->ConnectCalls(), calls);
}

TEST(DesktopController, TheLastReferenceDroppedByTheRetryLoopDoesNotDeadlock) {
    auto script = std::make_shared<FakeDesktopConnection::Script>();
    script->ConnectResults({false});
    std::weak_ptr<DesktopAPIController> weak;
    {
        auto controller = DesktopAPIController::Create(std::make_unique<FakeDesktopConnection>(script),
                                                       WidgetMode::Native, 10ms);
        weak = controller;
        controller->ConnectAsync().Get();
        script->HoldConnect();
        ASSERT_TRUE(script->WaitForConnects(2));  // the loop holds a strong reference during this attempt
    }
    script->StopHolding();
    script->ReleaseConnect(false);  // the loop drops what is now the last reference
    for (int i = 0; i < 500 && !weak.expired(); ++i) std::this_thread::sleep_for(2ms);
    EXPECT_TRUE(weak.expired());
}

TEST(DesktopController, UserNameAndAuthCode) {
    Fixture f;
    f.script->Answer("me", Response{false, ValueSet{{"username", Value("ada")}}});
    f.script->Answer("me", Response{true, ErrorObject("nobody")});
    f.script->Fail("me", std::make_exception_ptr(platform::PlatformError(platform::E_UNEXPECTED)));
    testsupport::LogCapture log;
    EXPECT_EQ(f.controller->GetCurrentUsernameAsync().Get(), "ada");
    EXPECT_EQ(f.controller->GetCurrentUsernameAsync().Get(), std::nullopt);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(f.controller->GetCurrentUsernameAsync().Get(), std::nullopt);
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{"ERROR DesktopAPIController: GetCurrentUsernameAsync failed"});

    f.script->Answer("auth_request", Response{false, ValueSet{{"auth_code", Value("code-1")}}});
    EXPECT_EQ(f.controller->RequestAuthCodeAsync("client", "challenge", "scopes").Get().auth_code, "code-1");
    auto request = f.script->Requests().back();
    EXPECT_EQ(request.params, (ValueSet{{"channel_id", Value("1")},
                                        {"client_id", Value("client")},
                                        {"grant_type", Value("auth_code")},
                                        {"client_code_challenge", Value("challenge")},
                                        {"client_scopes", Value("scopes")},
                                        {"redirect_uri", Value("https://www.corvana.com")},
                                        {"prompt_type", Value("none")}}));

    log.Clear();
    f.script->Answer("auth_request", Response{true, ErrorObject("denied")});
    try {
        f.controller->RequestAuthCodeAsync("c", "h", "s").Get();
        FAIL() << "expected an error";
    } catch (const platform::PlatformError& error) {
        EXPECT_EQ(error.code(), platform::E_UNEXPECTED);
    }
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{"ERROR DesktopAPIController Error: auth_request - denied"});

    f.script->Answer("auth_request", Response{true, {}});  // transport failure: the lookup error propagates
    try {
        f.controller->RequestAuthCodeAsync("c", "h", "s").Get();
        FAIL() << "expected an error";
    } catch (const platform::PlatformError& error) {
        EXPECT_EQ(error.code(), platform::E_BOUNDS);
    }
}

TEST(ControllerEvents, HandlersRunInOrderAndDisconnectedOnesAreRemoved) {
    utils::Event<int> event;
    std::vector<std::string> calls;
    event.Add([&](int) { calls.push_back("first"); });
    event.Add([&](int) {
        calls.push_back("gone");
        throw platform::PlatformError(platform::RPC_E_DISCONNECTED);
    });
    event.Add([&](int) {
        calls.push_back("failing");
        throw std::runtime_error("kept");
    });
    event.Add([&](int) {
        calls.push_back("unavailable");
        throw platform::PlatformError(platform::RPC_S_SERVER_UNAVAILABLE);
    });
    event.Add([&](int) { calls.push_back("last"); });

    event.Raise(1);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "gone", "failing", "unavailable", "last"}));
    calls.clear();
    event.Raise(2);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "failing", "last"}));
}
