// velmora-ctl against corvana-sim when the keyring holding the session is locked.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/PrivateBus.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestHelpers.h"

TEST(SignInWithALockedKeyring, HomeSaysLockedSignsInWithANewCodeAndStillFetchesTheFeed) {
    testsupport::SimulatorProcess sim({"--user", "locked-out-user"});
    sim.PointWidgetAtIt();
    ASSERT_EQ(testsupport::RunCtl({"login"}).status, 0);
    testsupport::LockDefaultKeyring();

    auto home = testsupport::RunToEnd(
        {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", testsupport::BuildOutput("Velmora/velmora-ctl"), "home"});
    EXPECT_EQ(home.status, 0) << home.output;
    EXPECT_NE(home.output.find("TokenManager: the vault is locked; no refresh token could be read"),
              std::string::npos)
        << home.output;
    EXPECT_EQ(home.output.find("no refresh token found in vault"), std::string::npos) << home.output;
    EXPECT_NE(home.output.find("TokenManager: failed to save user credentials"), std::string::npos);
    // The tokens the keyring refused to store still serve this process: the feed is fetched.
    auto feed = home.output.rfind("\n[");
    ASSERT_NE(feed, std::string::npos) << home.output;
    EXPECT_EQ(nlohmann::json::parse(home.output.substr(feed + 1)).size(), 4u);
    auto counters = sim.Counters();
    EXPECT_EQ(counters["requests"]["auth_request"], 2);
    EXPECT_EQ(counters["feed_requests"], 1);
}
