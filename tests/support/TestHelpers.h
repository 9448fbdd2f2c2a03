#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Foundation/ValueSet.h"
#include "tests/support/ChildProcess.h"

namespace testsupport {

// The result code of the PlatformError that `action` throws; 0 when it throws none.
int32_t ErrorCodeOf(const std::function<void()>& action);

// A restrictions set with every flag false, as the desktop app sends it.
platform::ValueSet NoRestrictions();

// The desktop test peer (tests/peers), started and ready on this process's bus.
std::unique_ptr<ChildProcess> StartDesktopPeer(std::vector<std::string> args = {});

// A program run to its end: its exit status and standard output.
struct Run {
    int status;
    std::string output;
};
Run RunToEnd(std::vector<std::string> argv, std::chrono::seconds timeout = std::chrono::seconds(30));
Run RunCtl(std::vector<std::string> args);

}  // namespace testsupport
