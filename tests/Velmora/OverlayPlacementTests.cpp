// The pure parts of the overlay on a desktop: the shortcut as the settings file writes it, where the
// window goes for the screens there are and the places saved, and the autostart entry that starts it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <variant>
#include <vector>

#include "Platform/GameBar/KeyCombination.h"
#include "Platform/GameBar/WindowPlacement.h"
#include "Velmora/Autostart.h"
#include "tests/support/TestHelpers.h"

using platform::KeyCombination;
using platform::WindowPlacement;

TEST(KeyCombination, ReadsWhatAPlayerWrites) {
    struct Case {
        const char* text;
        uint32_t keysym;
        uint16_t modifiers;
        const char* written;
    };
    const Case cases[] = {
        {"Super+Alt+M", 'm', KeyCombination::kSuper | KeyCombination::kAlt, "Super+Alt+M"},
        {" meta + alt + m ", 'm', KeyCombination::kSuper | KeyCombination::kAlt, "Super+Alt+M"},
        {"Ctrl+Shift+F9", 0xffc6, KeyCombination::kControl | KeyCombination::kShift, "Ctrl+Shift+F9"},
        {"Win+Space", 0x20, KeyCombination::kSuper, "Super+Space"},
        {"control+7", '7', KeyCombination::kControl, "Ctrl+7"},
        {"F12", 0xffc9, 0, "F12"},
        {"Alt+PageDown", 0xff56, KeyCombination::kAlt, "Alt+PageDown"},
    };
    for (const auto& c : cases) {
        auto parsed = KeyCombination::Parse(c.text);
        ASSERT_TRUE(std::holds_alternative<KeyCombination>(parsed))
            << c.text << ": " << std::get<std::string>(parsed);
        const auto& combination = std::get<KeyCombination>(parsed);
        EXPECT_EQ(combination.keysym, c.keysym) << c.text;
        EXPECT_EQ(combination.modifiers, c.modifiers) << c.text;
        EXPECT_EQ(combination.ToString(), c.written) << c.text;
    }
}

TEST(KeyCombination, RefusesWhatIsNoShortcut) {
    for (const char* text : {"",          "  ",       "Super+",        "+M",     "Super++M",  "Super+Bogus+M",
                             "Super+Alt", "Super+MM", "Super+Super+M", "M",      "Shift+M",   "Super+F0",
                             "Super+F25", "Super+ä",  "Escape",        "Return", "Shift+Tab", "Delete",
                             "Left",      "Space"}) {
        auto parsed = KeyCombination::Parse(text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << "\"" << text << "\"";
        EXPECT_FALSE(std::get<std::string>(parsed).empty());
    }
    // The reason quotes the file's text for a log line: no terminal escape gets through, and it stays short.
    auto hostile = KeyCombination::Parse("Super+\x1b]0;owned\x07" + std::string(10000, 'x'));
    const std::string reason = std::get<std::string>(hostile);
    EXPECT_EQ(reason.find('\x1b'), std::string::npos) << reason;
    EXPECT_LT(reason.size(), 200u);
}

TEST(WindowPlacement, PutsTheWindowWhereItWasOnAScreenThatExists) {
    const QSize size(320, 194);
    const std::vector<WindowPlacement::Screen> screens = {{"DP-1", QRect(0, 0, 1920, 1080)},
                                                          {"HDMI-1", QRect(1920, 0, 1280, 1024)}};
    // A first start: the top right of the primary, the margin from both edges.
    EXPECT_EQ(WindowPlacement::Choose(screens, 1, {}, size), QPoint(1920 + 1280 - 24 - 320, 24));
    EXPECT_EQ(WindowPlacement::Choose(screens, 0, {}, size), QPoint(1920 - 24 - 320, 24));

    // Back on the screen it was last on, relative to that screen.
    WindowPlacement::Saved saved{"HDMI-1", {{"HDMI-1", QPoint(100, 150)}, {"DP-1", QPoint(7, 9)}}};
    EXPECT_EQ(WindowPlacement::Choose(screens, 0, saved, size), QPoint(2020, 150));

    // That screen gone: the primary's own place, else its top right.
    const std::vector<WindowPlacement::Screen> laptop = {{"DP-1", QRect(0, 0, 1920, 1080)}};
    EXPECT_EQ(WindowPlacement::Choose(laptop, 0, saved, size), QPoint(7, 9));
    saved.positions.erase("DP-1");
    EXPECT_EQ(WindowPlacement::Choose(laptop, 0, saved, size), QPoint(1920 - 24 - 320, 24));

    // A place off its screen (the screen got smaller, or the file was edited) is kept inside it.
    saved = {"DP-1", {{"DP-1", QPoint(99999, -5000)}}};
    EXPECT_EQ(WindowPlacement::Choose(laptop, 0, saved, size), QPoint(1920 - 320, 0));
    // Even the file's largest numbers, on a screen that is not at the desktop's origin.
    saved = {"HDMI-1", {{"HDMI-1", QPoint(INT_MAX, INT_MIN)}}};
    EXPECT_EQ(WindowPlacement::Choose(screens, 0, saved, size), QPoint(1920 + 1280 - 320, 0));
    // No screen at all (a display still starting): the origin.
    EXPECT_EQ(WindowPlacement::Choose({}, 0, saved, size), QPoint(0, 0));
}

TEST(WindowPlacement, KeepsTheSavedPlacesThroughTheSettingsValue) {
    WindowPlacement::Saved saved{"DP-1", {{"DP-1", QPoint(-3, 40)}, {"HDMI-1", QPoint(5, 6)}}};
    auto read = WindowPlacement::Saved::FromValue(saved.ToValue());
    EXPECT_EQ(read.screen, "DP-1");
    EXPECT_EQ(read.positions, saved.positions);

    // Anything malformed reads as nothing saved, entry by entry.
    EXPECT_TRUE(WindowPlacement::Saved::FromValue(platform::Value("x")).positions.empty());
    EXPECT_TRUE(WindowPlacement::Saved::FromValue(std::nullopt).screen.empty());
    platform::ValueSet positions{
        {"DP-1", platform::Value(platform::ValueSet{{"x", platform::Value(1.5)}})},
        {"HDMI-1", platform::Value(platform::ValueSet{{"x", platform::Value(int32_t(1))},
                                                      {"y", platform::Value(int32_t(2))}})}};
    platform::ValueSet set{{"screen", platform::Value(int32_t(3))},
                           {"positions", platform::Value(positions)}};
    read = WindowPlacement::Saved::FromValue(platform::Value(set));
    EXPECT_TRUE(read.screen.empty());
    ASSERT_EQ(read.positions.size(), 1u);
    EXPECT_EQ(read.positions.at("HDMI-1"), QPoint(1, 2));
}

namespace {

// The Exec line's arguments as a desktop entry reader takes them apart: the string value's escapes, then
// the quoting of each argument, then %% as a literal %.
std::vector<std::string> ExecArguments(const std::string& entry) {
    std::vector<std::string> arguments;
    size_t start = entry.find("\nExec=");
    if (start == std::string::npos) return arguments;
    start += 6;
    const std::string written = entry.substr(start, entry.find('\n', start) - start);
    std::string value;
    for (size_t i = 0; i < written.size(); ++i) {
        if (written[i] != '\\' || i + 1 == written.size()) {
            value += written[i];
            continue;
        }
        const char escaped = written[++i];
        value += escaped == 'n'   ? '\n'
                 : escaped == 't' ? '\t'
                 : escaped == 'r' ? '\r'
                 : escaped == 's' ? ' '
                                  : escaped;
    }
    std::string argument;
    bool quoted = false, inArgument = false;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted && c == '\\' && i + 1 < value.size()) {
            argument += value[++i];
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if (c == '%' && i + 1 < value.size() && value[i + 1] == '%') {
            argument += value[++i];
            inArgument = true;
        } else if (c == ' ' && !quoted) {
            if (inArgument) arguments.push_back(argument);
            argument.clear();
            inArgument = false;
        } else {
            argument += c;
            inArgument = true;
        }
    }
    if (inArgument) arguments.push_back(argument);
    return arguments;
}

}  // namespace

TEST(Autostart, ExecStartsTheProgramWhateverItsPathHoldsAndAddsNoLine) {
    const std::string plain = velmora::Autostart::Entry("/usr/bin/velmora");
    for (const std::string program :
         {"/opt/my games/velmora", "/home/a\"b/$HOME/`id`/velmora", "/home/back\\slash/velmora",
          "/media/100%f/%u %%/velmora", "/tmp/new\nExec=rm -rf ~\n/velmora"}) {
        const std::string entry = velmora::Autostart::Entry(program);
        EXPECT_EQ(ExecArguments(entry),
                  (std::vector<std::string>{program, "--hidden", "ms-gamebarwidget:launch"}))
            << entry;
        EXPECT_EQ(std::count(entry.begin(), entry.end(), '\n'), std::count(plain.begin(), plain.end(), '\n'))
            << entry;
    }
}

// A session started without HOME (some service managers start one so): the entry goes to the user's home
// as the password database has it, never to /.config.
TEST(Autostart, WithoutHomeTheEntryGoesToTheHomeOfThePasswordDatabase) {
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_TRUE(user && user->pw_dir && user->pw_dir[0] == '/');
    const std::string expected = std::string(user->pw_dir) + "/.config/autostart/org.velmora.Velmora.desktop";
    testsupport::ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        testsupport::ScopedEnv unset("HOME", home);
        EXPECT_EQ(velmora::Autostart::EntryPath(), expected) << (home ? home : "(unset)");
    }
    testsupport::ScopedEnv home("HOME", "/home/player");
    EXPECT_EQ(velmora::Autostart::EntryPath(), "/home/player/.config/autostart/org.velmora.Velmora.desktop");
}
