#include "tests/support/PrivateBus.h"

#include <cstdlib>
#include <stdexcept>

namespace testsupport {

void PrivateBusEnvironment::SetUp() {
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"});
    std::string address = daemon_->WaitForLine("unix:");
    if (address.empty()) throw std::runtime_error("dbus-daemon did not start");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

}  // namespace testsupport
