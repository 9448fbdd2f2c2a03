#include "tests/support/SimulatorProcess.h"

#include <cstdlib>
#include <stdexcept>

namespace testsupport {

SimulatorProcess::SimulatorProcess(std::vector<std::string> extraArgs) {
    std::vector<std::string> argv{BuildOutput("tools/corvana-sim/corvana-sim"), "--ca-file", CaFile()};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    process_ = std::make_unique<ChildProcess>(argv, true, true);
    std::string ready = process_->WaitForLine("READY ");
    if (ready.empty()) throw std::runtime_error("corvana-sim did not start");
    origin_ = ready.substr(6);
}

std::string SimulatorProcess::Control(const std::string& command) {
    process_->WriteLine(command);
    return process_->WaitForLine("");  // each command answers one line, "ERROR ..." included
}

nlohmann::json SimulatorProcess::Counters() {
    std::string line = Control("counters");
    if (line.empty()) throw std::runtime_error("corvana-sim gave no counters");
    return nlohmann::json::parse(line.substr(9));
}

void SimulatorProcess::PointWidgetAtIt() const {
    ::setenv("VELMORA_ACCOUNTS_URL", origin_.c_str(), 1);
    ::setenv("VELMORA_WEBAPI_URL", origin_.c_str(), 1);
    ::setenv("VELMORA_CA_FILE", CaFile().c_str(), 1);
}

}  // namespace testsupport
