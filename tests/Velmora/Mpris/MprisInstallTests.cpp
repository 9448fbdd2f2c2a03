// velmora-mpris as installed: the installed velmora-ctl opens the channel on a session bus that knows only
// the installation's services, and the bus starts the installed velmora-mpris through its service file.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/Velmora/Mpris/MprisTestSession.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TestHelpers.h"

using testsupport::ChildProcess;
using testsupport::RunToEnd;

TEST(MprisInstallation, OpeningTheChannelStartsTheInstalledVelmoraMpris) {
    testsupport::MprisTestSession s;
    const std::string prefix = s.dir / "prefix";
    auto install = RunToEnd({VELMORA_CMAKE, "--install", VELMORA_BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(install.status, 0) << install.output;
    const std::string program = prefix + "/bin/velmora-mpris";
    ASSERT_TRUE(std::filesystem::exists(program));
    const std::string service =
        testsupport::ReadFile(prefix + "/share/dbus-1/services/corvana.partnerApi.service");
    EXPECT_NE(service.find("\nName=corvana.partnerApi\n"), std::string::npos) << service;
    EXPECT_NE(service.find("\nExec=" + program + "\n"), std::string::npos) << service;

    testsupport::WriteFile(s.dir / "bus.conf",
                           testsupport::SessionBusConfig(prefix + "/share/dbus-1/services"));
    ChildProcess bus({"dbus-daemon", "--config-file=" + (s.dir / "bus.conf"), "--nofork", "--nopidfile",
                      "--print-address=1"});
    std::string address = bus.WaitForLine("unix:");
    ASSERT_FALSE(address.empty());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

    auto fake = s.StartFake({"--name", "fake"});
    auto status = RunToEnd({prefix + "/bin/velmora-ctl", "status"});
    ASSERT_EQ(status.status, 0);
    EXPECT_EQ(nlohmann::json::parse(status.output)["track"]["name"], "Fake Song");
}
