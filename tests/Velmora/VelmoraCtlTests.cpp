// velmora-ctl run as a user would, against the desktop peer on a private session bus.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/ChildProcess.h"

using testsupport::ChildProcess;

namespace {

std::unique_ptr<ChildProcess> StartDesktop() {
    auto peer = std::make_unique<ChildProcess>(std::vector<std::string>{
        testsupport::TestProgram("desktop_test_peer"), "--connected-push", "--logged-in"});
    if (peer->WaitForLine("READY").empty()) ADD_FAILURE() << "the peer did not start";
    return peer;
}

struct Run {
    int status;
    std::string output;
};

Run Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), testsupport::BuildOutput("Velmora/velmora-ctl"));
    ChildProcess ctl(args);
    std::string output = ctl.ReadAll(std::chrono::seconds(30));
    return {ctl.Wait(std::chrono::seconds(30)), output};
}

}  // namespace

TEST(VelmoraCtl, StatusAndDevicesPrintJson) {
    auto desktop = StartDesktop();
    auto status = Ctl({"status"});
    ASSERT_EQ(status.status, 0) << status.output;
    auto state = nlohmann::json::parse(status.output);
    EXPECT_EQ(state["track"]["uri"], "corvana:track:peer1");
    EXPECT_EQ(state["is_paused"], false);
    EXPECT_EQ(state["volume_percentage"], 0.5);

    auto devices = Ctl({"devices"});
    ASSERT_EQ(devices.status, 0) << devices.output;
    auto cluster = nlohmann::json::parse(devices.output);
    EXPECT_EQ(cluster["active_device_id"], "d0");
    EXPECT_EQ(cluster["devices"].size(), 2u);
}

TEST(VelmoraCtl, CommandsSucceedAndWatchPrintsEvents) {
    auto desktop = StartDesktop();
    for (std::vector<std::string> command : {std::vector<std::string>{"pause"},
                                             {"play", "corvana:playlist:1"},
                                             {"seek", "-5000", "--relative"},
                                             {"shuffle", "on"},
                                             {"repeat", "track"},
                                             {"volume", "0.25"},
                                             {"like", "corvana:track:1"},
                                             {"transfer", "d1"}}) {
        auto run = Ctl(command);
        EXPECT_EQ(run.status, 0) << command[0];
    }
    auto watch = Ctl({"watch", "--count", "3"});
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
    // No desktop app at all: a usage error must be found before anything is sent or awaited.
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
        auto run = Ctl(command);
        EXPECT_EQ(run.status, 2) << (command.empty() ? "(none)" : command[0]);
    }
}

TEST(VelmoraCtl, NoDesktopAppMeansExitOneAfterTheTimeout) {
    auto run = Ctl({"--timeout", "0.5", "status"});
    EXPECT_EQ(run.status, 1);
}
