#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Foundation/ValueSet.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SimulatorProcess.h"

namespace testsupport {

// The result code of the PlatformError that `action` throws; 0 when it throws none.
int32_t ErrorCodeOf(const std::function<void()>& action);

// A restrictions set with every flag false, as the desktop app sends it.
platform::ValueSet NoRestrictions();

// corvana-sim as the desktop app for the desktop-link tests, ready on this process's bus and answering the
// "test." methods that steer it through the channel under test.
std::unique_ptr<SimulatorProcess> StartDesktopApp(std::vector<std::string> args = {});

// A program run to its end: its exit status and standard output.
struct Run {
    int status;
    std::string output;
};
Run RunToEnd(std::vector<std::string> argv, std::chrono::seconds timeout = std::chrono::seconds(30));
Run RunCtl(std::vector<std::string> args);

}  // namespace testsupport
