// velmora-ctl run as a user would, against corvana-sim on a private session bus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "VelmoraUtils/DesktopAPIConnection.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHelpers.h"

using testsupport::RunCtl;
using testsupport::StartDesktopApp;

TEST(VelmoraCtl, StatusAndDevicesPrintJson) {
    auto desktop = StartDesktopApp();
    auto status = RunCtl({"status"});
    ASSERT_EQ(status.status, 0) << status.output;
    auto state = nlohmann::json::parse(status.output);
    EXPECT_EQ(state["track"]["uri"], "corvana:track:1mK3nT8vX2qR");
    EXPECT_EQ(state["is_paused"], false);
    EXPECT_EQ(state["volume_percentage"], 0.5);

    auto devices = RunCtl({"devices"});
    ASSERT_EQ(devices.status, 0) << devices.output;
    auto cluster = nlohmann::json::parse(devices.output);
    EXPECT_EQ(cluster["active_device_id"], "sim-desktop");
    EXPECT_EQ(cluster["devices"].size(), 3u);
}

TEST(VelmoraCtl, CommandsSucceedAndWatchPrintsEvents) {
    auto desktop = StartDesktopApp();
    for (std::vector<std::string> command : {std::vector<std::string>{"pause"},
                                             {"play", "corvana:playlist:4Gk2PqL8battle"},
                                             {"seek", "-5000", "--relative"},
                                             {"shuffle", "on"},
                                             {"repeat", "track"},
                                             {"volume", "0.25"},
                                             {"like", "corvana:track:1mK3nT8vX2qR"},
                                             {"transfer", "sim-phone"}}) {
        auto run = RunCtl(command);
        EXPECT_EQ(run.status, 0) << command[0];
    }
    auto watch = RunCtl({"watch", "--count", "3"});
    ASSERT_EQ(watch.status, 0);
    std::stringstream lines(watch.output);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        auto event = nlohmann::json::parse(line);
        EXPECT_TRUE(event.contains("event") && event.contains("data")) << line;
    }
    EXPECT_EQ(count, 3);
}

TEST(VelmoraCtl, BadArgumentsAreUsageErrorsAndSendNothing) {
    auto desktop = StartDesktopApp();
    for (std::vector<std::string> command : {std::vector<std::string>{"volume", "1.5"},
                                             {"volume", "loud"},
                                             {"seek", "ten"},
                                             {"seek", "-10"},
                                             {"shuffle", "maybe"},
                                             {"repeat", "forever"},
                                             {"play"},
                                             {"dance"},
                                             {"--timeout", "-1", "status"},
                                             {}}) {
        auto run = RunCtl(command);
        EXPECT_EQ(run.status, 2) << (command.empty() ? "(none)" : command[0]);
    }
    // The desktop app saw no channel but the one opened here to ask it, and no request at all.
    utils::DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());
    auto seen = connection.SendRequest("test.received", {}).Get().data;
    EXPECT_EQ(seen.Lookup("methods").AsStringArray(), std::vector<std::string>{});
    EXPECT_EQ(seen.Lookup("client_paths").AsStringArray().size(), 1u);
}

TEST(VelmoraCtl, NoDesktopAppMeansExitOneAfterTheTimeout) {
    auto run = RunCtl({"--timeout", "0.5", "status"});
    EXPECT_EQ(run.status, 1);
}

TEST(VelmoraCtl, TheSessionLogNamesTheDevelopmentOverridesAtStart) {
    auto desktop = StartDesktopApp();
    testsupport::TempDir logs;
    ::setenv("VELMORA_WEBAPI_URL", "https://127.0.0.1:9443", 1);
    auto run = RunCtl({"--log-dir", logs.path(), "status"});
    ::unsetenv("VELMORA_WEBAPI_URL");
    ASSERT_EQ(run.status, 0);
    std::string directory = logs / "Corvana/XboxGameBar";
    ASSERT_TRUE(std::filesystem::exists(directory));
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        text += testsupport::ReadFile(entry.path());
    const std::string line =
        "] [INFO] : CorvanaEndpoints: development overrides in force - accounts: "
        "https://accounts.corvana.com, web "
        "API: https://127.0.0.1:9443, extra CA: none\n";
    ASSERT_NE(text.find(line), std::string::npos) << text;
    EXPECT_EQ(text.find(line), text.rfind(line));
}
