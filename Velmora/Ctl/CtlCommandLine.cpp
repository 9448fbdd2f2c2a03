#include "Velmora/Ctl/CtlCommandLine.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmora::ctl {

namespace {

constexpr const char* kUsage =
    "usage: velmora-ctl [--timeout SECONDS] [--log-dir DIR] COMMAND\n"
    "commands:\n"
    "  status                 print the playback state as JSON\n"
    "  devices                print the device list as JSON\n"
    "  watch [--count N]      print each event as one JSON line (N events, or until interrupted)\n"
    "  play CONTEXT_URI | pause | resume | next | previous\n"
    "  seek MS [--relative]   move the position (milliseconds; negative with --relative goes back)\n"
    "  shuffle on|off | repeat off|context|track | volume FRACTION (0 to 1)\n"
    "  like URI | unlike URI  add to or remove from the library\n"
    "  transfer DEVICE_ID     move playback to another device\n"
    "  login                  sign in to the web API; prints {\"signedIn\":true} or false\n"
    "  home                   sign in, then print the home feed's sections as JSON\n"
    "exit status: 0 done, 1 the desktop app or the web API did not answer in time or refused, 2 usage "
    "error\n";

}  // namespace

void Exit(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    // Skips tearing the link down: a retry loop would hold the exit for up to one retry period.
    std::_Exit(code);
}

void UsageError(const std::string& message) {
    std::fprintf(stderr, "velmora-ctl: %s\n%s", message.c_str(), kUsage);
    Exit(kExitUsage);
}

void NoAnswer(const std::string& message) {
    std::fprintf(stderr, "velmora-ctl: %s\n", message.c_str());
    Exit(kExitNoAnswer);
}

std::optional<int32_t> ParseInt32(const std::string& text) {
    int32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<double> ParseDouble(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            Exit(kExitOk);
        } else if (arg == "--timeout") {
            if (i + 1 >= argc) UsageError("--timeout needs a number of seconds");
            auto value = ParseDouble(argv[++i]);
            if (!value || *value <= 0) UsageError("--timeout needs a positive number of seconds");
            options.timeoutSeconds = *value;
        } else if (arg == "--log-dir") {
            if (i + 1 >= argc) UsageError("--log-dir needs a folder");
            options.logDir = argv[++i];
        } else if (arg.starts_with("--")) {
            UsageError("unknown option " + arg);
        } else {
            break;
        }
    }
    if (i >= argc) UsageError("no command given");
    options.command = argv[i++];
    for (; i < argc; ++i) options.args.push_back(argv[i]);
    return options;
}

void Expect(const Options& options, size_t count, const char* shape) {
    if (options.args.size() != count) UsageError(options.command + " takes " + shape);
}

bool IsAccountCommand(const std::string& command) {
    return command == "login" || command == "home";
}

}  // namespace velmora::ctl
