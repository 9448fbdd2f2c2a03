#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Platform/GameBar/GameBarHost.h"

namespace velmora {

inline constexpr const char* kUsage =
    "usage: velmora [--pinned-only] [--opacity 0.1-1] [--hidden] [URI]\n"
    "       velmora --toggle        hide the widget, show it again, or open it\n"
    "       velmora --autostart on|off   start velmora hidden at login (the shortcut then works at once)";

struct CommandLine {
    platform::GameBarHostOptions options;
    bool help = false;
    std::optional<bool> autostart;  // --autostart on|off: write or remove the autostart entry, then exit
};

// The command line after the program name. A usage error comes back as its reason: an unknown option, an
// option without its value, an opacity that is not a decimal number from 0.1 to 1, more than one URI, or
// an argument that is not an absolute URI, --toggle with a URI or --hidden, --autostart with anything else
// or without on|off.
std::variant<CommandLine, std::string> ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace velmora
