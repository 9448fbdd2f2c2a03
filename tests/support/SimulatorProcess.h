#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace testsupport {

// corvana-sim started for one test, steered through its control commands. PointWidgetAtIt() makes this
// process's web requests go to it and trust its CA.
class SimulatorProcess {
public:
    explicit SimulatorProcess(std::vector<std::string> extraArgs = {});

    const std::string& Origin() const { return origin_; }
    std::string CaFile() const { return dir_ / "ca.pem"; }
    // Sends a control command; returns its answer line ("OK ...", "COUNTERS ...", "ERROR ...").
    std::string Control(const std::string& command);
    nlohmann::json Counters();
    void PointWidgetAtIt() const;
    ChildProcess& Process() { return *process_; }

private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> process_;
    std::string origin_;
};

}  // namespace testsupport
