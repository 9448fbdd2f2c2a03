// The controller against corvana-sim over a private session bus.
#include <gtest/gtest.h>

#include <thread>

#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono_literals;
using utils::DesktopAPIController;

namespace {

std::unique_ptr<testsupport::SimulatorProcess> StartDesktop() {
    return testsupport::StartDesktopApp();
}

std::shared_ptr<DesktopAPIController> MakeController(std::chrono::nanoseconds retry = 100ms) {
    return DesktopAPIController::Create(std::make_unique<utils::DesktopAPIConnection>(),
                                        utils::WidgetMode::Native, retry);
}

}  // namespace

TEST(DesktopControllerOnTheBus, ConnectsOnceTheDesktopAppAppears) {
    testsupport::LogCapture log;
    auto controller = MakeController();
    std::atomic<int> playbackEvents{0};
    controller->PlaybackStateChanged.Add([&](const auto&) { ++playbackEvents; });
    controller->ConnectAsync().Get();
    EXPECT_TRUE(
        log.Contains("ERROR DesktopAPIController: AppService connection failed, starting retry loop"));
    ASSERT_TRUE(log.WaitFor("ERROR DesktopAPIConnection: OpenAsync failed with status: 2", 2));

    auto desktop = StartDesktop();
    ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: User logged in"));
    ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: Connect active device subscription succeeded"));
    for (int i = 0; i < 2500 && playbackEvents == 0; ++i) std::this_thread::sleep_for(2ms);
    EXPECT_GE(playbackEvents.load(), 1);
}

TEST(DesktopControllerOnTheBus, ReconnectsWithAFreshHandshakeWhenTheDesktopAppReturns) {
    testsupport::LogCapture log;
    auto desktop = StartDesktop();
    auto controller = MakeController();
    std::atomic<int> disconnected{0};
    controller->ConnectionStateChanged.Add([&](const auto& state) {
        if (!state.connected) ++disconnected;
    });
    controller->ConnectAsync().Get();
    ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: Connect active device subscription succeeded"));

    desktop->Process().Signal(SIGKILL);
    desktop->Process().Wait();
    for (int i = 0; i < 2500 && disconnected == 0; ++i) std::this_thread::sleep_for(2ms);
    EXPECT_GE(disconnected.load(), 1);

    desktop = StartDesktop();
    ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: Connect active device subscription succeeded", 2));
    EXPECT_EQ(log.Count("INFO DesktopAPIController: Desktop app connected"), 2u);
    EXPECT_EQ(log.Count("INFO DesktopAPIController: User logged in"), 2u);
    EXPECT_EQ(log.Count("INFO DesktopAPIController: Playback state subscription succeeded"), 2u);
}

TEST(DesktopControllerOnTheBus, ABurstOfCommandsAllArrive) {
    testsupport::LogCapture log;
    auto desktop = StartDesktop();
    auto controller = MakeController();
    controller->ConnectAsync().Get();
    ASSERT_TRUE(log.WaitFor("INFO DesktopAPIController: Connect active device subscription succeeded"));

    // Previous on the queue's first track restarts it, so every command stays allowed (Next would reach the
    // advertisement, which may be neither skipped nor sought in).
    std::vector<platform::Task<bool>> burst;
    for (int i = 0; i < 40; ++i) {
        burst.push_back(controller->SeekAsync(i * 1000, false));
        burst.push_back(controller->SetVolumeAsync(i / 40.0));
        burst.push_back(controller->ModifyPlaybackStateAsync(utils::PlaybackAction::Previous));
    }
    for (auto& command : burst) EXPECT_TRUE(command.Get());
    EXPECT_EQ(log.Count("ERROR DesktopAPIController: Seek failed"), 0u);
}
