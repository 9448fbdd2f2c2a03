#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Velmora/ModeCheck.h"
#include "Velmora/PageTypes.h"
#include "tests/support/TempDir.h"

using namespace velmora;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(ModeCheck, OnlyAFirstLineOfExactlyWebViewSelectsTheWebFrontEnd) {
    struct Case {
        std::string content;
        bool webView;
    };
    const std::vector<Case> cases = {
        {"web_view", true},
        {"web_view\n", true},
        {"web_view\r\n", true},
        {"web_view\nnative\nanything", true},
        {"web_view\r\n\x01\x02 binary after the first line", true},
        {"", false},
        {"\n", false},
        {"\nweb_view", false},
        {" web_view", false},
        {"web_view ", false},
        {"web_view\t\n", false},
        {"Web_View", false},
        {"WEB_VIEW\n", false},
        {"web_vie", false},
        {"web_viewx", false},
        {"web_view\r", false},  // a carriage return is dropped only before a line feed
        {"web_view\r\r\n", false},
        {"web_view web_view\n", false},
        {std::string("web_view\0\n", 10), false},
        {"native", false},
        {"\xef\xbb\xbfweb_view\n", false},  // a byte-order mark is part of the line
    };
    TempDir folder;
    for (const auto& c : cases) {
        WriteFile(folder / "widget_mode.txt", c.content);
        EXPECT_EQ(IsWebViewModeFile(folder / "widget_mode.txt"), c.webView) << '"' << c.content << '"';
    }
}

TEST(ModeCheck, AnythingButARegularReadableFileSelectsTheNativeFrontEnd) {
    TempDir folder;
    EXPECT_FALSE(IsWebViewModeFile(folder / "missing.txt"));

    std::filesystem::create_directory(folder / "a-directory");
    EXPECT_FALSE(IsWebViewModeFile(folder / "a-directory"));

    std::filesystem::create_symlink(folder / "nowhere", folder / "dangling");
    EXPECT_FALSE(IsWebViewModeFile(folder / "dangling"));

    WriteFile(folder / "target.txt", "web_view\n");
    std::filesystem::create_symlink(folder / "target.txt", folder / "link");
    EXPECT_TRUE(IsWebViewModeFile(folder / "link"));

    // A pipe with no writer would block a plain open for ever.
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(IsWebViewModeFile(folder / "pipe"));

    EXPECT_FALSE(IsWebViewModeFile("/dev/zero"));

    if (::geteuid() != 0) {  // root reads whatever the permissions say
        WriteFile(folder / "unreadable.txt", "web_view\n");
        ::chmod((folder / "unreadable.txt").c_str(), 0);
        EXPECT_FALSE(IsWebViewModeFile(folder / "unreadable.txt"));
    }
}

TEST(ModeCheck, AHugeFileIsJudgedByItsFirstLineAlone) {
    // Sparse files of 64 GiB: reading either to its end would not finish within the test's time.
    TempDir folder;
    for (const auto& [head, webView] : std::vector<std::pair<std::string, bool>>{
             {"web_view\n", true}, {"web_view", false}, {"xxxxxxxxxxxx", false}}) {
        std::string path = folder / "huge.txt";
        WriteFile(path, head);
        ASSERT_EQ(::truncate(path.c_str(), 64LL << 30), 0);
        EXPECT_EQ(IsWebViewModeFile(path), webView) << head;
    }
}

TEST(ModeCheck, TheModeFileLivesUnderTheLocalFolder) {
    TempDir data;
    const char* saved = std::getenv("XDG_DATA_HOME");
    std::string savedValue = saved ? saved : "";
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);

    EXPECT_EQ(ModeFilePath(), data / "velmora/Corvana/Gamebar/widget_mode.txt");
    EXPECT_STREQ(ChosenPageType(), kNativePageType);  // no Corvana folder at all
    WriteFile(ModeFilePath(), "web_view\r\n");
    EXPECT_STREQ(ChosenPageType(), kWebViewPageType);
    WriteFile(ModeFilePath(), "native\n");
    EXPECT_STREQ(ChosenPageType(), kNativePageType);

    if (saved) {
        ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}
