// The pure parts of the overlay on a desktop: the shortcut as the settings file writes it, and where the
// window goes for the screens there are and the places saved.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <variant>

#include "Platform/GameBar/KeyCombination.h"
#include "Platform/GameBar/WindowPlacement.h"

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
    for (const char* text : {"", "  ", "Super+", "+M", "Super++M", "Super+Bogus+M", "Super+Alt", "Super+MM",
                             "Super+Super+M", "M", "Shift+M", "Super+F0", "Super+F25", "Super+ä"}) {
        auto parsed = KeyCombination::Parse(text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << "\"" << text << "\"";
        EXPECT_FALSE(std::get<std::string>(parsed).empty());
    }
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
    // No screen at all (a display still starting): the origin.
    EXPECT_EQ(WindowPlacement::Choose({}, 0, saved, size), QPoint(0, 0));
    // Even the file's largest numbers, on a screen that is not at the desktop's origin.
    saved = {"HDMI-1", {{"HDMI-1", QPoint(INT_MAX, INT_MIN)}}};
    EXPECT_EQ(WindowPlacement::Choose(screens, 0, saved, size), QPoint(1920 + 1280 - 320, 0));
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
