// velmora (with test pages) run as the desktop runs it, on a private session bus: one instance owns
// org.velmora.Velmora, later starts hand their URI and options to it over org.freedesktop.Application.
#include <gtest/gtest.h>

#include <sdbus-c++/sdbus-c++.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Storage/ApplicationData.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHelpers.h"

using testsupport::BuildOutput;
using testsupport::ChildProcess;
using testsupport::RunToEnd;

namespace {

constexpr const char* kLaunch = "ms-gamebarwidget:launch";
using Parameters = std::vector<sdbus::Variant>;
using PlatformData = std::map<std::string, sdbus::Variant>;

std::string Shell() {
    return BuildOutput("tests/Velmora/velmora-testshell");
}

std::string ModeFile() {
    return platform::ApplicationData::Current().LocalFolder() + "/Corvana/Gamebar/widget_mode.txt";
}

class ActivationTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        std::filesystem::remove(ModeFile());
        ::unsetenv("VELMORA_TEST_SHELL_MODULE");
    }

    // The first instance, once its page shows.
    std::unique_ptr<ChildProcess> StartFirst(std::vector<std::string> args = {kLaunch}) {
        args.insert(args.begin(), Shell());
        auto first = std::make_unique<ChildProcess>(args);
        EXPECT_EQ(first->WaitForLine("PAGE ", std::chrono::seconds(20))
                      .rfind("PAGE Velmora.CorvanaWidgetNative 1", 0),
                  0u);
        return first;
    }

    testsupport::Run Start(std::vector<std::string> args) {
        args.insert(args.begin(), Shell());
        return RunToEnd(args);
    }

    // A call as any program on the bus makes it; the D-Bus error name, or "" when it succeeded.
    std::string Call(const std::string& method, const std::function<void(sdbus::MethodCall&)>& arguments) {
        if (!connection) connection = sdbus::createSessionBusConnection();
        auto proxy = sdbus::createProxy(*connection, "org.velmora.Velmora", "/org/velmora/Velmora");
        auto call = proxy->createMethodCall("org.freedesktop.Application", method);
        arguments(call);
        try {
            proxy->callMethod(call, 10'000'000);
        } catch (const sdbus::Error& error) {
            return error.getName();
        }
        return "";
    }

    // The next thing a page reports about itself, frames aside.
    static std::string NextEvent(ChildProcess& process) {
        for (;;) {
            std::string line = process.WaitForLine("");
            if (line.rfind("FIRST_FRAME", 0) != 0) return line;
        }
    }

    std::string Action(const std::string& name, const Parameters& parameter) {
        return Call("ActivateAction",
                    [&](sdbus::MethodCall& call) { call << name << parameter << PlatformData{}; });
    }

    std::unique_ptr<sdbus::IConnection> connection;
};

}  // namespace

TEST_F(ActivationTest, ASecondStartHandsOverAndTheFirstKeepsItsWindow) {
    auto first = StartFirst();
    auto second = Start({kLaunch});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.output, "");  // no page of its own

    // The first one still runs the same page: the next thing it reports comes from that one page.
    EXPECT_EQ(Action("pinned-only", {sdbus::Variant(true)}), "");
    EXPECT_EQ(first->WaitForLine("DISPLAY_MODE"), "DISPLAY_MODE 1 pages=1");

    EXPECT_EQ(Action("close", {}), "");
    EXPECT_EQ(first->WaitForLine("SHUTDOWN"), "SHUTDOWN Velmora.CorvanaWidgetNative");
    EXPECT_EQ(first->Wait(std::chrono::seconds(10)), 0);

    // With the first gone, the next start becomes the host itself.
    auto third = StartFirst();
    third->Signal(SIGTERM);
    EXPECT_EQ(third->WaitForLine("SHUTDOWN"), "SHUTDOWN Velmora.CorvanaWidgetNative");
    EXPECT_EQ(third->Wait(std::chrono::seconds(10)), 0);
}

TEST_F(ActivationTest, LaunchOptionsOfASecondStartReachTheHostControls) {
    auto first = StartFirst();
    auto second = Start({"--pinned-only", "--opacity", "0.5", kLaunch});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(first->WaitForLine("DISPLAY_MODE"), "DISPLAY_MODE 1 pages=1");
    EXPECT_EQ(first->WaitForLine("OPACITY"), "OPACITY 0.50 pages=1");
}

TEST_F(ActivationTest, LaunchOptionsOfTheFirstStartSetTheHostControls) {
    ChildProcess first({Shell(), "--pinned-only", "--opacity=0.3", kLaunch});
    EXPECT_EQ(first.WaitForLine("PAGE", std::chrono::seconds(20)),
              "PAGE Velmora.CorvanaWidgetNative 1 widget=1 mode=1 opacity=0.30");
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(std::chrono::seconds(10)), 0);
}

TEST_F(ActivationTest, ActionsChangeTheHostControlsAndWrongCallsAreRefused) {
    auto first = StartFirst();
    struct Refused {
        const char* what;
        std::function<std::string()> call;
    };
    const std::vector<Refused> refused = {
        {"opacity as text", [&] { return Action("opacity", {sdbus::Variant(std::string("0.5"))}); }},
        {"opacity as integer", [&] { return Action("opacity", {sdbus::Variant(int32_t{1})}); }},
        {"opacity out of range", [&] { return Action("opacity", {sdbus::Variant(5.0)}); }},
        {"opacity below range", [&] { return Action("opacity", {sdbus::Variant(0.0)}); }},
        {"opacity without value", [&] { return Action("opacity", {}); }},
        {"two parameters",
         [&] {
             return Action("opacity", {sdbus::Variant(0.5), sdbus::Variant(0.5)});
         }},
        {"pinned-only as text", [&] { return Action("pinned-only", {sdbus::Variant(std::string("yes"))}); }},
        {"close with a value", [&] { return Action("close", {sdbus::Variant(true)}); }},
        {"unknown action", [&] { return Action("explode", {}); }},
        {"Open with one string",
         [&] { return Call("Open", [](sdbus::MethodCall& call) { call << std::string(kLaunch); }); }},
        {"Open with a text that is no URI",
         [&] {
             return Call("Open", [](sdbus::MethodCall& call) {
                 call << std::vector<std::string>{"not a uri"} << PlatformData{};
             });
         }},
        {"Activate with a string",
         [&] { return Call("Activate", [](sdbus::MethodCall& call) { call << "x"; }); }},
        {"ActivateAction without parameters",
         [&] { return Call("ActivateAction", [](sdbus::MethodCall&) {}); }},
    };
    for (const auto& r : refused) EXPECT_NE(r.call(), "") << r.what;

    // Nothing changed: the first change the page sees is the one of the next valid call.
    EXPECT_EQ(Action("opacity", {sdbus::Variant(0.3)}), "");
    EXPECT_EQ(NextEvent(*first), "OPACITY 0.30 pages=1");
    EXPECT_EQ(Action("pinned-only", {}), "");  // without a value: toggles
    EXPECT_EQ(NextEvent(*first), "DISPLAY_MODE 1 pages=1");
    EXPECT_EQ(Call("Open",
                   [](sdbus::MethodCall& call) {
                       call << std::vector<std::string>{"corvana:open", kLaunch} << PlatformData{};
                   }),
              "");
    EXPECT_EQ(Action("pinned-only", {sdbus::Variant(false)}), "");
    EXPECT_EQ(NextEvent(*first), "DISPLAY_MODE 0 pages=1");
}

TEST_F(ActivationTest, StartsThatShowNothingExitCleanly) {
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const std::vector<Case> cases = {
        {{}, 0},                            // a plain start: nothing to show
        {{"ms-gamebarwidgetx:launch"}, 0},  // another scheme
        {{"corvana:open"}, 0},
        {{"--opacity", "2", kLaunch}, 2},  // usage errors
        {{"--bogus"}, 2},
        {{"launch"}, 2},
        {{kLaunch, kLaunch}, 2},
    };
    for (const auto& c : cases) {
        auto run = Start(c.args);
        EXPECT_EQ(run.status, c.status) << testing::PrintToString(c.args);
        EXPECT_EQ(run.output, "") << testing::PrintToString(c.args);
    }
    // The same with an instance running: it hears nothing of the usage errors and shows no new page.
    auto first = StartFirst();
    for (const auto& c : cases) {
        auto run = Start(c.args);
        EXPECT_EQ(run.status, c.status) << testing::PrintToString(c.args);
    }
    EXPECT_EQ(Action("opacity", {sdbus::Variant(0.4)}), "");
    EXPECT_EQ(NextEvent(*first), "OPACITY 0.40 pages=1");
}

TEST_F(ActivationTest, WithoutADisplayItSaysSoInsteadOfAborting) {
    std::string platform = std::getenv("QT_QPA_PLATFORM");
    ::unsetenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    std::string savedDisplay = display ? display : "";
    ::unsetenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::string savedWayland = wayland ? wayland : "";
    ::unsetenv("WAYLAND_DISPLAY");

    auto run = Start({kLaunch});

    ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    if (display) ::setenv("DISPLAY", savedDisplay.c_str(), 1);
    if (wayland) ::setenv("WAYLAND_DISPLAY", savedWayland.c_str(), 1);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "");
}

TEST_F(ActivationTest, TheWebFrontEndModuleIsLoadedOnlyWhenTheModeFileSelectsIt) {
    ::setenv("VELMORA_TEST_SHELL_MODULE", "libvelmora-test-frontend.so", 1);
    {
        // Native mode: the module is not even loaded, so its hook never runs.
        ChildProcess native({Shell(), kLaunch});
        EXPECT_EQ(
            native.WaitForLine("", std::chrono::seconds(20)).rfind("PAGE Velmora.CorvanaWidgetNative 1", 0),
            0u);
        native.Signal(SIGTERM);
        EXPECT_EQ(native.Wait(std::chrono::seconds(10)), 0);
    }
    testsupport::WriteFile(ModeFile(), "web_view\n");
    {
        ChildProcess web({Shell(), kLaunch});
        EXPECT_EQ(web.WaitForLine("", std::chrono::seconds(20)), "MODULE_HOOK application=0");
        EXPECT_EQ(NextEvent(web).rfind("PAGE Velmora.CorvanaWidgetWebview 1", 0), 0u);
        web.Signal(SIGTERM);
        EXPECT_EQ(web.WaitForLine("SHUTDOWN"), "SHUTDOWN Velmora.CorvanaWidgetWebview");
        EXPECT_EQ(web.Wait(std::chrono::seconds(10)), 0);
    }
    // A module that is not there: the navigation fails, the process says so and ends with status 1.
    ::setenv("VELMORA_TEST_SHELL_MODULE", "libvelmora-no-such-front-end.so", 1);
    auto missing = Start({kLaunch});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, "");
}
