// Sign-in against corvana-sim on a private bus, with the tokens in a real gnome-keyring.
#include <gtest/gtest.h>

#include <condition_variable>
#include <sstream>
#include <thread>

#include "Platform/Threading/ThreadDispatcher.h"
#include "VelmoraUtils/CorvanaClient.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/TokenManager.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::SimulatorProcess;

namespace {

int Count(const nlohmann::json& counters, const char* group, const char* key) {
    return counters[group].contains(key) ? counters[group][key].get<int>() : 0;
}

// A token manager in this process, as a front end holds one, with the real endpoint and keyring. Its
// refresh timer fires when the test says so.
struct SignedInWidget {
    SignedInWidget() {
        auto services = utils::TokenManagerServices::Default();
        services.startTimer = [this](std::function<void()> handler, std::chrono::nanoseconds delay) {
            std::lock_guard lock(mutex);
            timerHandler = std::move(handler);
            timerDelay = delay;
            return std::function<void()>([this, armed = ++timersArmed] {
                std::lock_guard lock(mutex);
                if (timersArmed == armed) timerHandler = nullptr;
            });
        };
        manager = utils::TokenManager::Create(
            controller, dispatcher,
            [this](bool signedIn) {
                std::lock_guard lock(mutex);
                outcomes.push_back(signedIn);
                changed.notify_all();
            },
            "CorvanaWidgetNative", std::move(services));
        auto connecting = controller->ConnectAsync();
    }
    ~SignedInWidget() { manager->Stop(); }
    bool WaitForOutcome(size_t count, bool expected) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return outcomes.size() >= count; }) &&
               outcomes[count - 1] == expected;
    }
    bool TimerArmed() {
        std::lock_guard lock(mutex);
        return static_cast<bool>(timerHandler);
    }
    void FireTimer() {
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex);
            handler = std::exchange(timerHandler, nullptr);
        }
        ASSERT_TRUE(handler);
        handler();
    }

    std::shared_ptr<platform::ThreadDispatcher> dispatcher = platform::ThreadDispatcher::Create();
    std::shared_ptr<utils::DesktopAPIController> controller = utils::DesktopAPIController::Create(
        std::make_unique<utils::DesktopAPIConnection>(), utils::WidgetMode::Native, 200ms);
    std::shared_ptr<utils::TokenManager> manager;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> outcomes;
    std::function<void()> timerHandler;
    std::chrono::nanoseconds timerDelay{};
    int timersArmed = 0;
};

// velmora-ctl with its diagnostics (standard error) in its output, still running.
std::unique_ptr<ChildProcess> StartCtl(std::vector<std::string> args) {
    std::vector<std::string> argv{"sh", "-c", "exec \"$0\" \"$@\" 2>&1",
                                  testsupport::BuildOutput("Velmora/velmora-ctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(argv);
}

// Polls the simulator's counters until `done` holds them.
bool WaitForCounters(SimulatorProcess& sim, const std::function<bool(const nlohmann::json&)>& done) {
    for (int i = 0; i < 1000; ++i) {
        if (done(sim.Counters())) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// The home feed a velmora-ctl run printed among its diagnostics.
nlohmann::json PrintedFeed(const std::string& output) {
    std::stringstream lines(output);
    nlohmann::json feed;
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("[")) feed = nlohmann::json::parse(line);
    return feed;
}

}  // namespace

TEST(SignIn, TheFirstLoginExchangesACodeAndTheNextProcessOnlyRefreshes) {
    SimulatorProcess sim({"--user", "first-user"});
    sim.PointWidgetAtIt();
    auto first = testsupport::RunCtl({"login"});
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(first.output, "{\"signedIn\":true}\n");
    auto counters = sim.Counters();
    EXPECT_EQ(Count(counters, "requests", "auth_request"), 1);
    EXPECT_EQ(Count(counters, "token_requests", "authorization_code"), 1);
    EXPECT_EQ(Count(counters, "token_requests", "refresh_token"), 0);

    auto second = testsupport::RunCtl({"home"});
    ASSERT_EQ(second.status, 0);
    auto sections = nlohmann::json::parse(second.output);
    EXPECT_EQ(sections.size(), 4u);
    counters = sim.Counters();
    EXPECT_EQ(Count(counters, "requests", "auth_request"), 1);  // no new code: the stored token sufficed
    EXPECT_EQ(Count(counters, "token_requests", "refresh_token"), 1);
    EXPECT_EQ(counters["feed_requests"], 1);
}

TEST(SignIn, TheRefreshTimerRenewsTheTokensAgainstTheServer) {
    SimulatorProcess sim({"--user", "timer-user", "--expires-in", "400"});
    sim.PointWidgetAtIt();
    SignedInWidget widget;
    ASSERT_TRUE(widget.WaitForOutcome(1, true));
    auto before = widget.manager->GetAccessToken();
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(widget.timerDelay, std::chrono::seconds(200));  // half of a lifetime within twice the margin

    widget.FireTimer();
    ASSERT_TRUE(
        WaitForCounters(sim, [](const auto& c) { return Count(c, "token_requests", "refresh_token") == 1; }));
    for (int i = 0; i < 500 && widget.manager->GetAccessToken() == before; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_NE(widget.manager->GetAccessToken(), before);
    for (int i = 0; i < 500 && !widget.TimerArmed(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(widget.TimerArmed());  // armed again
    std::lock_guard lock(widget.mutex);
    EXPECT_EQ(widget.outcomes, std::vector<bool>{true});  // refreshed silently
}

TEST(SignIn, LogoutAndLoginAgain) {
    SimulatorProcess sim({"--user", "returning-user"});
    sim.PointWidgetAtIt();
    SignedInWidget widget;
    ASSERT_TRUE(widget.WaitForOutcome(1, true));
    EXPECT_EQ(sim.Control("logout"), "OK logout");
    ASSERT_TRUE(widget.WaitForOutcome(2, false));
    EXPECT_FALSE(widget.manager->RefreshTimerDelay().has_value());
    EXPECT_EQ(sim.Control("login"), "OK login");
    ASSERT_TRUE(widget.WaitForOutcome(3, true));
    EXPECT_TRUE(widget.manager->RefreshTimerDelay().has_value());
    EXPECT_EQ(Count(sim.Counters(), "requests", "auth_request"), 1);  // the second login refreshed
}

TEST(SignIn, TwoProcessesSigningInAtOnceShareTheRotatingRefreshToken) {
    SimulatorProcess sim({"--user", "two-process-user"});
    sim.PointWidgetAtIt();
    ASSERT_EQ(testsupport::RunCtl({"login"}).status, 0);

    // The first refresh is answered only once the second process has come as far as it can.
    ASSERT_EQ(sim.Control("hold-token"), "OK hold-token");
    auto first = StartCtl({"home"});
    ASSERT_TRUE(
        WaitForCounters(sim, [](const auto& c) { return Count(c, "token_requests", "refresh_token") == 1; }));
    auto second = StartCtl({"home"});
    bool secondWaits = false;
    bool secondSent = false;
    for (int i = 0; i < 500 && !secondWaits && !secondSent; ++i) {
        secondWaits = !second->WaitForLine("TokenManager: waiting for another process", 10ms).empty();
        secondSent = Count(sim.Counters(), "token_requests", "refresh_token") >= 2;
    }
    EXPECT_TRUE(secondWaits);
    ASSERT_EQ(sim.Control("release-token"), "OK release-token");

    for (auto* process : {first.get(), second.get()}) {
        std::string output = process->ReadAll(20s);
        EXPECT_EQ(process->Wait(20s), 0) << output;
        EXPECT_EQ(PrintedFeed(output).size(), 4u) << output;
    }
    auto counters = sim.Counters();
    EXPECT_EQ(Count(counters, "requests", "auth_request"), 1);  // no process needed a new code
    EXPECT_EQ(Count(counters, "token_requests", "refresh_token"), 2);
}

TEST(SignIn, AnExitDuringARefreshStoresItsAnswerFirst) {
    SimulatorProcess sim({"--user", "leaving-user"});
    sim.PointWidgetAtIt();
    ASSERT_EQ(testsupport::RunCtl({"login"}).status, 0);

    // The server rotates the refresh token at once but answers only after the process has timed out.
    ASSERT_EQ(sim.Control("hold-token"), "OK hold-token");
    auto leaving = StartCtl({"--timeout", "4", "login"});
    ASSERT_TRUE(
        WaitForCounters(sim, [](const auto& c) { return Count(c, "token_requests", "refresh_token") == 1; }));
    ASSERT_FALSE(
        leaving->WaitForLine("velmora-ctl: the sign-in did not finish within the time-out", 20s).empty());
    ASSERT_EQ(sim.Control("release-token"), "OK release-token");
    std::string output = leaving->ReadAll(10s);
    EXPECT_EQ(leaving->Wait(10s), 1) << output;

    auto next = testsupport::RunCtl({"home"});
    EXPECT_EQ(next.status, 0);
    auto counters = sim.Counters();
    EXPECT_EQ(Count(counters, "requests", "auth_request"), 1);  // the rotated token was stored
    EXPECT_EQ(Count(counters, "token_requests", "refresh_token"), 2);
}

TEST(SignIn, ARefusedAccessTokenIsRefreshedOnceAndTheFeedFetchedAgain) {
    SimulatorProcess sim({"--user", "refused-user"});
    sim.PointWidgetAtIt();
    SignedInWidget widget;
    ASSERT_TRUE(widget.WaitForOutcome(1, true));
    ASSERT_EQ(sim.Control("expire-tokens"), "OK expire-tokens");

    auto feed = utils::corvana_client::FetchHomeFeedAsync(widget.manager).Get();
    EXPECT_FALSE(feed.failure.has_value()) << *feed.failure;
    EXPECT_EQ(feed.sections.size(), 4u);
    auto counters = sim.Counters();
    EXPECT_EQ(counters["feed_requests"], 2);
    EXPECT_EQ(Count(counters, "token_requests", "refresh_token"), 1);
    std::lock_guard lock(widget.mutex);
    EXPECT_EQ(widget.outcomes, std::vector<bool>{true});
}

TEST(SignIn, HomeExitsOneWithAReasonWhenTheFeedCannotBeFetched) {
    SimulatorProcess sim({"--user", "expired-user", "--expires-in", "0"});  // every token is born expired
    sim.PointWidgetAtIt();
    auto home = StartCtl({"home"});
    std::string output = home->ReadAll(20s);
    EXPECT_EQ(home->Wait(20s), 1) << output;
    EXPECT_NE(
        output.find("velmora-ctl: the home feed could not be fetched: the web API answered with HTTP status "
                    "401\n"),
        std::string::npos)
        << output;
    EXPECT_EQ(PrintedFeed(output), nullptr);
    auto counters = sim.Counters();
    EXPECT_EQ(counters["feed_requests"], 2);  // one retry after one refresh, no more
    EXPECT_EQ(Count(counters, "token_requests", "refresh_token"), 1);
}
