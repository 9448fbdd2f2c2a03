#include "tests/support/TestHelpers.h"

#include <gtest/gtest.h>

#include "Platform/Foundation/PlatformError.h"

namespace testsupport {

int32_t ErrorCodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const platform::PlatformError& error) {
        return error.code();
    }
    return 0;
}

platform::ValueSet NoRestrictions() {
    platform::ValueSet set;
    for (const char* key :
         {"disallow_pausing", "disallow_resuming", "disallow_seeking", "disallow_skipping_prev",
          "disallow_skipping_next", "disallow_toggling_repeat_context", "disallow_toggling_repeat_track",
          "disallow_toggling_shuffle"}) {
        set.Insert(key, platform::Value(false));
    }
    return set;
}

std::unique_ptr<SimulatorProcess> StartDesktopApp(std::vector<std::string> args) {
    args.insert(args.begin(), "--test-methods");
    return std::make_unique<SimulatorProcess>(std::move(args));
}

Run RunToEnd(std::vector<std::string> argv, std::chrono::seconds timeout) {
    ChildProcess process(std::move(argv));
    std::string output = process.ReadAll(timeout);
    return {process.Wait(timeout), output};
}

Run RunCtl(std::vector<std::string> args) {
    args.insert(args.begin(), BuildOutput("Velmora/velmora-ctl"));
    return RunToEnd(std::move(args));
}

}  // namespace testsupport
