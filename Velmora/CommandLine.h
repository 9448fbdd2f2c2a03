#pragma once

#include <string>
#include <variant>
#include <vector>

#include "Platform/GameBar/GameBarHost.h"

namespace velmora {

inline constexpr const char* kUsage = "usage: velmora [--pinned-only] [--opacity 0.1-1] [URI]";

struct CommandLine {
    platform::GameBarHostOptions options;
    bool help = false;
};

// The command line after the program name. A usage error comes back as its reason: an unknown option, an
// option without its value, an opacity that is not a decimal number from 0.1 to 1, more than one URI, or
// an argument that is not an absolute URI.
std::variant<CommandLine, std::string> ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace velmora
