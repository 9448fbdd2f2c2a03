// Sign-in against corvana-sim on a private bus, with the tokens in a real gnome-keyring.
#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "Platform/Threading/ThreadDispatcher.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/TokenManager.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono_literals;
using testsupport::SimulatorProcess;

namespace {

int Count(const nlohmann::json& counters, const char* group, const char* key) {
    return counters[group].contains(key) ? counters[group][key].get<int>() : 0;
}

// A token manager in this process, as a front end holds one.
struct SignedInWidget {
    SignedInWidget() {
        manager = utils::TokenManager::Create(
            controller, dispatcher,
            [this](bool signedIn) {
                std::lock_guard lock(mutex);
                outcomes.push_back(signedIn);
                changed.notify_all();
            },
            "CorvanaWidgetNative");
        auto connecting = controller->ConnectAsync();
    }
    ~SignedInWidget() { manager->Stop(); }
    bool WaitForOutcome(size_t count, bool expected) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return outcomes.size() >= count; }) &&
               outcomes[count - 1] == expected;
    }

    std::shared_ptr<platform::ThreadDispatcher> dispatcher = platform::ThreadDispatcher::Create();
    std::shared_ptr<utils::DesktopAPIController> controller = utils::DesktopAPIController::Create(
        std::make_unique<utils::DesktopAPIConnection>(), utils::WidgetMode::Native, 200ms);
    std::shared_ptr<utils::TokenManager> manager;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> outcomes;
};

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

TEST(SignIn, AShortLivedTokenIsRefreshedByTheTimer) {
    SimulatorProcess sim({"--user", "timer-user", "--expires-in", "302"});  // the refresh falls due after 2 s
    sim.PointWidgetAtIt();
    SignedInWidget widget;
    ASSERT_TRUE(widget.WaitForOutcome(1, true));
    auto before = widget.manager->GetAccessToken();
    ASSERT_TRUE(before.has_value());
    ASSERT_EQ(widget.manager->RefreshTimerDelay(), std::chrono::seconds(2));

    int refreshes = 0;
    for (int i = 0; i < 100 && refreshes == 0; ++i) {
        std::this_thread::sleep_for(100ms);
        // The first sign-in found no stored token, so every refresh request here is the timer's.
        refreshes = Count(sim.Counters(), "token_requests", "refresh_token");
    }
    EXPECT_GE(refreshes, 1);
    for (int i = 0; i < 100 && widget.manager->GetAccessToken() == before; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(widget.manager->GetAccessToken(), before);
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
