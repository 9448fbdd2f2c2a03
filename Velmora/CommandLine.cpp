#include "Velmora/CommandLine.h"

#include <charconv>

#include "Platform/GameBar/GameBarHostControls.h"
#include "Platform/Ui/ProtocolActivatedEventArgs.h"

namespace velmora {

namespace {

std::optional<double> ParseOpacity(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !platform::GameBarHostControls::IsValidOpacity(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::variant<CommandLine, std::string> ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            line.help = true;
        } else if (!optionsEnded && argument == "--pinned-only") {
            line.options.pinnedOnly = true;
        } else if (!optionsEnded && argument == "--service") {
            line.options.service = true;
        } else if (!optionsEnded && argument == "--toggle") {
            line.options.toggle = true;
        } else if (!optionsEnded && argument == "--hidden") {
            line.options.hidden = true;
        } else if (!optionsEnded && (argument == "--autostart" || argument.rfind("--autostart=", 0) == 0)) {
            std::string value;
            if (argument == "--autostart") {
                if (i + 1 == arguments.size()) return std::string("--autostart needs on or off");
                value = arguments[++i];
            } else {
                value = argument.substr(sizeof("--autostart=") - 1);
            }
            if (value != "on" && value != "off") return "--autostart takes on or off, not \"" + value + "\"";
            line.autostart = value == "on";
        } else if (!optionsEnded && (argument == "--opacity" || argument.rfind("--opacity=", 0) == 0)) {
            std::string value;
            if (argument == "--opacity") {
                if (i + 1 == arguments.size()) return std::string("--opacity needs a value");
                value = arguments[++i];
            } else {
                value = argument.substr(sizeof("--opacity=") - 1);
            }
            auto opacity = ParseOpacity(value);
            if (!opacity) return "the opacity must be a decimal number from 0.1 to 1, not \"" + value + "\"";
            line.options.opacity = opacity;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            return "unknown option " + argument;
        } else if (line.options.uri) {
            return std::string("only one URI may be given");
        } else if (!platform::ProtocolActivatedEventArgs::SchemeOf(argument)) {
            return "not an absolute URI: \"" + argument + "\"";
        } else {
            line.options.uri = argument;
        }
    }
    if (line.options.toggle && (line.options.uri || line.options.hidden)) {
        return std::string("--toggle takes no URI and no --hidden");
    }
    const auto& o = line.options;
    if (line.autostart && (o.uri || o.toggle || o.hidden || o.pinnedOnly || o.opacity || o.service)) {
        return std::string("--autostart takes no other argument");
    }
    return line;
}

}  // namespace velmora
