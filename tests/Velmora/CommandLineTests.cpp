#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "Velmora/CommandLine.h"

using namespace velmora;

TEST(CommandLine, AcceptsTheOptionsAndOneUri) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::string> uri;
        std::optional<bool> pinnedOnly;
        std::optional<double> opacity;
        bool service;
        bool help;
    };
    const std::vector<Case> cases = {
        {{}, std::nullopt, std::nullopt, std::nullopt, false, false},
        {{"ms-gamebarwidget:launch"}, "ms-gamebarwidget:launch", std::nullopt, std::nullopt, false, false},
        {{"--pinned-only", "--opacity", "0.8", "ms-gamebarwidget:launch"},
         "ms-gamebarwidget:launch",
         true,
         0.8,
         false,
         false},
        {{"--opacity=0.1"}, std::nullopt, std::nullopt, 0.1, false, false},
        {{"--opacity", "1"}, std::nullopt, std::nullopt, 1.0, false, false},
        {{"https://example.com/x"}, "https://example.com/x", std::nullopt, std::nullopt, false, false},
        {{"--service"}, std::nullopt, std::nullopt, std::nullopt, true, false},
        {{"--", "ms-gamebarwidget:launch"},
         "ms-gamebarwidget:launch",
         std::nullopt,
         std::nullopt,
         false,
         false},
        {{"--help"}, std::nullopt, std::nullopt, std::nullopt, false, true},
    };
    for (const auto& c : cases) {
        auto parsed = ParseCommandLine(c.arguments);
        if (std::holds_alternative<CommandLine>(parsed)) {
            EXPECT_FALSE(std::get<CommandLine>(parsed).autostart);
        }
        ASSERT_TRUE(std::holds_alternative<CommandLine>(parsed)) << std::get<std::string>(parsed);
        const auto& line = std::get<CommandLine>(parsed);
        EXPECT_EQ(line.options.uri, c.uri);
        EXPECT_EQ(line.options.pinnedOnly, c.pinnedOnly);
        EXPECT_EQ(line.options.opacity, c.opacity);
        EXPECT_EQ(line.options.service, c.service);
        EXPECT_EQ(line.help, c.help);
    }
}

TEST(CommandLine, TakesTheOverlaysOptions) {
    auto line = std::get<CommandLine>(ParseCommandLine({"--toggle"}));
    EXPECT_TRUE(line.options.toggle);
    EXPECT_FALSE(line.options.uri);
    line = std::get<CommandLine>(ParseCommandLine({"--hidden", "ms-gamebarwidget:launch"}));
    EXPECT_TRUE(line.options.hidden);
    EXPECT_EQ(line.options.uri, "ms-gamebarwidget:launch");
    EXPECT_EQ(std::get<CommandLine>(ParseCommandLine({"--autostart", "on"})).autostart, true);
    EXPECT_EQ(std::get<CommandLine>(ParseCommandLine({"--autostart=off"})).autostart, false);
}

TEST(CommandLine, RefusesBadOptionsAndValues) {
    const std::vector<std::vector<std::string>> cases = {
        {"--opacity"},
        {"--opacity", "0.05"},
        {"--opacity", "1.5"},
        {"--opacity", "-0.5"},
        {"--opacity", "nan"},
        {"--opacity", "inf"},
        {"--opacity", "0x1p-1"},
        {"--opacity", "0.5x"},
        {"--opacity", ""},
        {"--opacity=", "ms-gamebarwidget:launch"},
        {"--bogus"},
        {"-p"},
        {"ms-gamebarwidget:launch", "ms-gamebarwidget:launch"},
        {"launch"},
        {"-"},
        {"1ms-gamebarwidget:launch"},
        {"--toggle", "ms-gamebarwidget:launch"},
        {"--toggle", "--hidden"},
        {"--autostart"},
        {"--autostart", "yes"},
        {"--autostart=on", "ms-gamebarwidget:launch"},
        {"--autostart", "off", "--toggle"},
    };
    for (const auto& arguments : cases) {
        auto parsed = ParseCommandLine(arguments);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << ::testing::PrintToString(arguments);
        EXPECT_FALSE(std::get<std::string>(parsed).empty());
    }
}
