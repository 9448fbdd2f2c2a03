#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

// A program the test starts, with its standard output readable line by line. Killed at destruction.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv, bool captureStdout = true, bool pipeStdin = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads lines until one starts with `prefix`; returns it, or "" at end of output or time-out.
    std::string WaitForLine(const std::string& prefix,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // All output read so far plus what arrives within the timeout, until the process closes its output.
    std::string ReadAll(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Writes a line to the child's standard input (only with pipeStdin).
    void WriteLine(const std::string& line);
    void Signal(int signal);
    // Waits for the exit; returns the exit status, 128 + signal for a killed process, -1 on time-out.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    pid_t pid() const { return pid_; }

private:
    bool ReadMore(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    int stdinFd_ = -1;
    std::string buffer_;
    bool exited_ = false;
    int status_ = 0;
};

// The path of a test peer program (tests/peers), and of anything else in the build tree.
std::string TestProgram(const std::string& name);
std::string BuildOutput(const std::string& relativePath);

}  // namespace testsupport
