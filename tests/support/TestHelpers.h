#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
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

// An environment variable set (or, for a null value, unset) for the scope, and restored after it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace testsupport
