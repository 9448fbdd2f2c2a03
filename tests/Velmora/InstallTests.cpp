// velmora installed as a desktop application into a prefix of the test's own, then opened as the desktop
// opens a URI: `gio open ms-gamebarwidget:launch` finds the entry by its URI scheme, calls Open on
// org.velmora.Velmora, and the bus starts velmora through the installed service file. The widget shows the
// test front-end module, put where the installed web front end would be, with the mode file saying so.
#include <gtest/gtest.h>

#include <sdbus-c++/sdbus-c++.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHelpers.h"

using testsupport::ChildProcess;
using testsupport::ReadFile;
using testsupport::RunToEnd;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool HasOwner(sdbus::IConnection& connection, const std::string& name) {
    auto bus = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool has = false;
    bus->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(name)
        .storeResultsTo(has);
    return has;
}

}  // namespace

TEST(Installation, TheInstalledDesktopEntryOpensTheWidget) {
    TempDir prefix, home;
    auto install = RunToEnd({VELMORA_CMAKE, "--install", VELMORA_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(install.status, 0) << install.output;

    // The files, in their XDG places, naming the installed program.
    const std::string program = prefix / "bin/velmora";
    struct stat status {};
    ASSERT_EQ(::stat(program.c_str(), &status), 0);
    EXPECT_TRUE(status.st_mode & S_IXUSR);
    EXPECT_TRUE(fs::exists(prefix / "bin/velmora-ctl"));
    EXPECT_TRUE(fs::is_directory(prefix / "share/velmora"));
    const std::string entry = prefix / "share/applications/org.velmora.Velmora.desktop";
    std::string desktop = ReadFile(entry);
    EXPECT_TRUE(Contains(desktop, "\nMimeType=x-scheme-handler/ms-gamebarwidget;\n"));
    EXPECT_TRUE(Contains(desktop, "\nDBusActivatable=true\n"));
    EXPECT_TRUE(Contains(desktop, "\nExec=" + program + " %u\n"));
    EXPECT_EQ(RunToEnd({"desktop-file-validate", entry}).status, 0);
    std::string service = ReadFile(prefix / "share/dbus-1/services/org.velmora.Velmora.service");
    EXPECT_TRUE(Contains(service, "\nName=org.velmora.Velmora\n"));
    EXPECT_TRUE(Contains(service, "\nExec=" + program + " --service\n"));
    EXPECT_TRUE(
        Contains(ReadFile(prefix / "share/icons/hicolor/scalable/apps/org.velmora.Velmora.svg"), "<svg"));

    // The web front end: its module and its packaged page. The module is then swapped for the test one,
    // which says on standard output what the shell did with it.
    EXPECT_TRUE(fs::exists(prefix / "share/velmora/ui/index.html"));
    EXPECT_TRUE(fs::exists(prefix / "share/velmora/ui/js/main.js"));
    ASSERT_TRUE(fs::exists(prefix / "lib/velmora/libvelmora-webview.so"));
    fs::copy_file(VELMORA_TEST_FRONT_END_MODULE, prefix / "lib/velmora/libvelmora-webview.so",
                  fs::copy_options::overwrite_existing);

    // A user of the test's own, who chose the web front end; the desktop's folders are the installation's.
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", home.path().c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (prefix / "share").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    WriteFile(home / "data/velmora/Corvana/Gamebar/widget_mode.txt", "web_view\n");
    // A session bus that starts the installation's services, and only those.
    WriteFile(home / "bus.conf", testsupport::SessionBusConfig(prefix / "share/dbus-1/services"));
    // Programs the bus starts write to its standard output: the page's lines arrive there.
    ChildProcess bus({"dbus-daemon", "--config-file=" + (home / "bus.conf"), "--nofork", "--nopidfile",
                      "--print-address=1"});
    std::string address = bus.WaitForLine("unix:");
    ASSERT_FALSE(address.empty());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

    auto open = RunToEnd({"gio", "open", "ms-gamebarwidget:launch"});
    EXPECT_EQ(open.status, 0);
    EXPECT_EQ(bus.WaitForLine("MODULE_HOOK", std::chrono::seconds(30)), "MODULE_HOOK application=0");
    EXPECT_EQ(bus.WaitForLine("PAGE"), "PAGE Velmora.CorvanaWidgetWebview 1 widget=1 mode=0 opacity=1.00");

    // Opening it again reaches the widget already shown.
    EXPECT_EQ(RunToEnd({"gio", "open", "ms-gamebarwidget:launch"}).status, 0);

    auto connection = sdbus::createSessionBusConnection();
    ASSERT_TRUE(HasOwner(*connection, "org.velmora.Velmora"));
    auto velmora = sdbus::createProxy(*connection, "org.velmora.Velmora", "/org/velmora/Velmora");
    velmora->callMethod("ActivateAction")
        .onInterface("org.freedesktop.Application")
        .withArguments(std::string("close"), std::vector<sdbus::Variant>{},
                       std::map<std::string, sdbus::Variant>{});
    // No second page was made by the second open: the next line is the first page's shutdown.
    std::string next;
    do {
        next = bus.WaitForLine("");
    } while (next.rfind("FIRST_FRAME", 0) == 0);
    EXPECT_EQ(next, "SHUTDOWN Velmora.CorvanaWidgetWebview");

    // The widget window closed, so the program ends and gives up its name.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (HasOwner(*connection, "org.velmora.Velmora") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(HasOwner(*connection, "org.velmora.Velmora"));
}
