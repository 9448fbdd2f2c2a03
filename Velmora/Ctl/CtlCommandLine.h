#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What velmora-ctl and its account commands share: the command line, its usage text and the ways out.
namespace velmora::ctl {

constexpr int kExitOk = 0;
constexpr int kExitNoAnswer = 1;
constexpr int kExitUsage = 2;

struct Options {
    double timeoutSeconds = 10;
    std::optional<std::string> logDir;
    std::string command;
    std::vector<std::string> args;
};

// Prints the usage and exits on --help and on any error.
Options ParseOptions(int argc, char** argv);
// Exits with the usage error unless the command has `count` arguments (described by `shape`).
void Expect(const Options& options, size_t count, const char* shape);

std::optional<int32_t> ParseInt32(const std::string& text);
std::optional<double> ParseDouble(const std::string& text);

[[noreturn]] void Exit(int code);
[[noreturn]] void UsageError(const std::string& message);
[[noreturn]] void NoAnswer(const std::string& message);

// The commands of the web account, which velmora-ctl leaves to a program of their own.
bool IsAccountCommand(const std::string& command);

}  // namespace velmora::ctl
