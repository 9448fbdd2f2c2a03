// corvana-sim as the widget meets it: over the session bus and over HTTPS.
#include <gtest/gtest.h>
#include <httplib.h>

#include <sdbus-c++/sdbus-c++.h>

#include <nlohmann/json.hpp>
#include <numeric>
#include <thread>

#include "Platform/Security/Cryptography.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PushRecorder.h"
#include "tests/support/SimulatorProcess.h"

using namespace std::chrono_literals;
using platform::Value;
using platform::ValueSet;
using testsupport::ChildProcess;
using utils::DesktopAPIConnection;

namespace {

// The simulator, with an HTTPS client that trusts it.
class Simulator : public testsupport::SimulatorProcess {
public:
    std::unique_ptr<httplib::SSLClient> Http() const {
        auto client = std::make_unique<httplib::SSLClient>(
            "127.0.0.1", std::stoi(Origin().substr(Origin().rfind(':') + 1)));
        client->set_ca_cert_path(CaFile().c_str());
        client->enable_server_certificate_verification(true);
        return client;
    }
};

// A widget-side channel that keeps what is pushed to it.
struct Widget {
    Widget() {
        pushes.Attach(connection);
        if (!connection.Connect().Get()) throw std::runtime_error("no channel");
    }
    ValueSet Send(const std::string& method, utils::IDesktopAPIConnection::Params params = {}) {
        auto response = connection.SendRequest(method, std::move(params)).Get();
        if (response.is_error) throw std::runtime_error(method + " failed");
        return response.data;
    }
    std::optional<ValueSet> WaitForPush(const std::string& method,
                                        const std::function<bool(const ValueSet&)>& match) {
        return pushes.WaitFor(method, match);
    }
    DesktopAPIConnection connection;
    testsupport::PushRecorder pushes;
};

}  // namespace

TEST(CorvanaSim, SignsInWithPkceAndServesTheFeedOnlyWithAValidToken) {
    Simulator sim;
    auto http = sim.Http();
    auto anonymous = http->Get("/v1/views/partner-home?limit=4");
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 401);

    Widget widget;
    std::string verifier(80, 'k');
    auto challenge = platform::Cryptography::Base64UrlEncode(platform::Cryptography::Sha256(verifier));
    auto code = widget
                    .Send("auth_request", {{"channel_id", Value("1")},
                                           {"client_id", Value("5e0c9a7d2b4f4e61a8d3c7b90f1e2a46")},
                                           {"grant_type", Value("auth_code")},
                                           {"client_code_challenge", Value(challenge)},
                                           {"client_scopes", Value("streaming")},
                                           {"redirect_uri", Value("https://www.corvana.com")},
                                           {"prompt_type", Value("none")}})
                    .Lookup("auth_code")
                    .AsString();
    httplib::Params form{{"grant_type", "authorization_code"},
                         {"code", code},
                         {"redirect_uri", "https://www.corvana.com"},
                         {"client_id", "5e0c9a7d2b4f4e61a8d3c7b90f1e2a46"},
                         {"code_verifier", verifier}};
    auto token = http->Post("/api/token", form);
    ASSERT_TRUE(token);
    ASSERT_EQ(token->status, 200) << token->body;
    auto tokens = nlohmann::json::parse(token->body);
    EXPECT_EQ(http->Post("/api/token", form)->status, 400);  // the code is spent

    httplib::Headers bearer{{"Authorization", "Bearer " + tokens["access_token"].get<std::string>()}};
    auto feed = http->Get(
        "/v1/views/partner-home?signal=category%3Agaming&content_limit=6&limit=4"
        "&types=track,album,playlist,artist,show,episode,station&include_full_episode_object=true",
        bearer);
    ASSERT_EQ(feed->status, 200);
    auto rows = nlohmann::json::parse(feed->body)["content"]["items"];
    EXPECT_EQ(rows.size(), 4u);
    std::set<std::string> kinds;
    std::string image;
    for (const auto& row : rows) {
        EXPECT_LE(row["content"]["items"].size(), 6u);
        for (const auto& item : row["content"]["items"]) {
            kinds.insert(item["type"].get<std::string>());
            if (image.empty() && item.contains("images")) image = item["images"][0]["url"];
        }
    }
    EXPECT_EQ(kinds.size(), 7u);
    auto png = http->Get(image.substr(sim.Origin().size()));
    ASSERT_EQ(png->status, 200);
    EXPECT_EQ(png->body.substr(1, 3), "PNG");

    EXPECT_EQ(sim.Control("expire-tokens"), "OK expire-tokens");
    EXPECT_EQ(http->Get("/v1/views/partner-home", bearer)->status, 401);
    auto counters = sim.Counters();
    EXPECT_EQ(counters["token_requests"]["authorization_code"], 2);
    EXPECT_EQ(counters["codes_issued"], 1);
}

TEST(CorvanaSim, EveryChangeIsPushedToEverySubscribedWidget) {
    Simulator sim;
    Widget first, second;
    for (auto* widget : {&first, &second}) {
        ASSERT_TRUE(widget->WaitForPush("connection_state_changed", [](const ValueSet& p) {
            return p.Lookup("connected").AsString() == "true";
        }));
        widget->Send("login_state_subscription");
        ASSERT_TRUE(widget->WaitForPush("login_state_subscription",
                                        [](const ValueSet& p) { return p.Lookup("logged_in").AsBoolean(); }));
        widget->Send("playback_state_subscription");
        widget->Send("connect_active_device_subscription");
    }
    first.Send("playback_pause");
    for (auto* widget : {&first, &second}) {
        EXPECT_TRUE(widget->WaitForPush("playback_state_subscription",
                                        [](const ValueSet& p) { return p.Lookup("is_paused").AsBoolean(); }));
    }
    second.Send("connect_transfer", {{"device_id", Value("sim-phone")}});
    for (auto* widget : {&first, &second}) {
        EXPECT_TRUE(widget->WaitForPush("connect_active_device_subscription", [](const ValueSet& p) {
            return p.Lookup("active_device_id").AsString() == "sim-phone" &&
                   !p.Lookup("is_local").AsBoolean();
        }));
    }
    EXPECT_EQ(sim.Control("logout"), "OK logout");
    EXPECT_TRUE(second.WaitForPush("login_state_subscription",
                                   [](const ValueSet& p) { return !p.Lookup("logged_in").AsBoolean(); }));
    EXPECT_THROW(second.Send("me"), std::runtime_error);
}

TEST(CorvanaSim, InjectedFailuresAndDelaysHitOnlyTheirMethod) {
    Simulator sim;
    Widget widget;
    EXPECT_EQ(sim.Control("fail playback_next 1 dbus"), "OK fail");
    auto failed = widget.connection.SendRequest("playback_next", {}).Get();
    EXPECT_TRUE(failed.is_error);
    EXPECT_TRUE(failed.data.Empty());  // a transport failure carries no error object
    EXPECT_FALSE(widget.connection.SendRequest("playback_next", {}).Get().is_error);

    EXPECT_EQ(sim.Control("fail me 1 error"), "OK fail");
    auto refused = widget.connection.SendRequest("me", {}).Get();
    EXPECT_TRUE(refused.is_error);
    EXPECT_EQ(refused.data.Lookup("code").AsInt32(), 500);

    EXPECT_EQ(sim.Control("delay me 1 300"), "OK delay");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(widget.Send("me").Lookup("username").AsString(), "gamer42");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST(CorvanaSim, AWidgetStaysLinkedThroughADisconnectAndAFailedSubscription) {
    enum class Trouble { Disconnect, FailedLoginSubscription };
    for (Trouble trouble : {Trouble::Disconnect, Trouble::FailedLoginSubscription}) {
        SCOPED_TRACE(trouble == Trouble::Disconnect ? "disconnect" : "failed login subscription");
        Simulator sim;
        testsupport::LogCapture log;
        if (trouble == Trouble::FailedLoginSubscription) {
            EXPECT_EQ(sim.Control("fail login_state_subscription 1"), "OK fail");
        }
        auto controller = utils::DesktopAPIController::Create(std::make_unique<DesktopAPIConnection>(),
                                                              utils::WidgetMode::Native, 100ms);
        controller->ConnectAsync().Get();
        if (trouble == Trouble::Disconnect) {
            ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: User logged in"));
            EXPECT_EQ(sim.Control("disconnect"), "OK disconnect");
            ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: User logged in", 2));
            // The simulator forgets the channels it told 50 ms after telling them; the new one must stay.
            std::this_thread::sleep_for(200ms);
            EXPECT_EQ(sim.Counters()["clients"], 1);
        } else {
            ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: User logged in"));
        }
        EXPECT_EQ(sim.Control("logout"), "OK logout");
        EXPECT_TRUE(log.WaitFor("INFO DesktopAPIController: User logged out"));
    }
}

// The bus daemon fails calls past the number a connection may have awaiting replies before they reach the
// widget: a burst of pushes from the desktop app arrives whole and in order, each one answered.
TEST(CorvanaSim, ABurstOfPushesPastTheBusReplyLimitArrivesWholeAndInOrder) {
    Simulator sim;
    Widget widget;
    widget.Send("playback_state_subscription");
    ASSERT_TRUE(widget.WaitForPush("playback_state_subscription", [](const ValueSet&) { return true; }));
    EXPECT_EQ(sim.Control("burst 100001"), "ERROR a burst is at most 100000 pushes, not 100001");
    constexpr int32_t kBurst = 1000;
    EXPECT_EQ(sim.Control("burst " + std::to_string(kBurst)), "OK burst");
    ASSERT_TRUE(widget.WaitForPush("playback_state_subscription", [](const ValueSet& p) {
        return p.HasKey("burst") && p.Lookup("burst").AsInt32() == kBurst;
    }));
    std::vector<int32_t> numbers;
    for (const auto& push : widget.pushes.All()) {
        if (push.params.HasKey("burst")) numbers.push_back(push.params.Lookup("burst").AsInt32());
    }
    std::vector<int32_t> sent(kBurst);
    std::iota(sent.begin(), sent.end(), 1);
    EXPECT_EQ(numbers, sent);
    nlohmann::json counters;
    for (int i = 0; i < 500; ++i) {
        counters = sim.Counters();
        if (counters["pushes_waiting"] == 0) break;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(counters["pushes"].value("refused", 0), 0);
}

// A widget that leaves the bus with pushes awaiting its replies (their callbacks go with its channel) holds
// up no later push: the widget that stays still hears of its subscription.
TEST(CorvanaSim, AWidgetLeavingWithPushesAwaitingRepliesHoldsUpNoLaterPush) {
    using DBusMap = std::map<std::string, sdbus::Variant>;
    Simulator sim;
    Widget staying;
    {
        // A widget that never reads its messages, so that every push to it awaits a reply.
        auto silent = sdbus::createSessionBusConnection();
        auto desktop = sdbus::createProxy(*silent, "corvana.partnerApi", "/corvana/partnerApi");
        desktop->callMethod("Open")
            .onInterface("corvana.partnerApi.AppService")
            .withArguments(std::string("silent"), sdbus::ObjectPath("/silent"));
        DBusMap reply;
        desktop->callMethod("SendMessage")
            .onInterface("corvana.partnerApi.AppService")
            .withArguments(DBusMap{{"method", sdbus::Variant(std::string("playback_state_subscription"))},
                                   {"params", sdbus::Variant(DBusMap{})}})
            .storeResultsTo(reply);
        EXPECT_EQ(sim.Control("burst 40"), "OK burst");  // more than may await replies at once
    }
    for (int i = 0; i < 500 && sim.Counters()["clients"] != 1; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(sim.Counters()["clients"], 1);
    staying.Send("playback_state_subscription");
    EXPECT_TRUE(staying.WaitForPush("playback_state_subscription", [](const ValueSet&) { return true; }));
}
