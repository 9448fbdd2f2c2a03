// The main of the web view tests: the web view runtime must be set up before the application object, in
// a HOME and XDG folders of the test's own, offscreen unless the caller chose a platform.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "Platform/WebView/WebViewRuntime.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
    testsupport::TempDir home;
    qputenv("HOME", home.path().c_str());
    qputenv("XDG_DATA_HOME", (home / "data").c_str());
    qputenv("XDG_CACHE_HOME", (home / "cache").c_str());
    qputenv("XDG_CONFIG_HOME", (home / "config").c_str());
    // Two offscreen screens of different pixel ratios, for moving a window from one to the other.
    testsupport::WriteFile(home / "screens.json", R"({"screens": [
        {"name": "one", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96, "dpr": 1},
        {"name": "two", "x": 1280, "y": 0, "width": 2560, "height": 1600, "logicalDpi": 192, "dpr": 1}]})");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + (home / "screens.json")).c_str());
    }

    platform::WebViewRuntime::InitializeBeforeApplication();
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
