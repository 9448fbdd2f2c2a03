#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

ChildProcess::ChildProcess(std::vector<std::string> argv, bool captureStdout, bool pipeStdin) {
    int pipeFds[2] = {-1, -1};
    int inputFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipeStdin) {
        ::signal(SIGPIPE, SIG_IGN);  // a child that died must fail a write, not kill the test
        if (::pipe2(inputFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_adddup2(&actions, inputFds[0], STDIN_FILENO);
    }
    if (captureStdout) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    }
    // Nothing of ours leaks into the child (ctest's log pipes among it: a child holding them keeps ctest
    // waiting), and the child dies with us even when we crash, so no peer or bus outlives its test.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    argv.insert(argv.begin(), {"setpriv", "--pdeathsig", "KILL", "--"});
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (captureStdout) {
        ::close(pipeFds[1]);
        stdoutFd_ = pipeFds[0];
    }
    if (pipeStdin) {
        ::close(inputFds[0]);
        stdinFd_ = inputFds[1];
    }
    if (error != 0) throw std::runtime_error("cannot start " + argv[4]);
}

ChildProcess::~ChildProcess() {
    if (!exited_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (stdoutFd_ >= 0) ::close(stdoutFd_);
    if (stdinFd_ >= 0) ::close(stdinFd_);
}

void ChildProcess::WriteLine(const std::string& line) {
    std::string text = line + "\n";
    if (stdinFd_ < 0 || ::write(stdinFd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot write to the child's input");
    }
}

bool ChildProcess::ReadMore(std::chrono::steady_clock::time_point deadline) {
    if (stdoutFd_ < 0) return false;
    auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (remaining.count() <= 0) return false;
    pollfd fd{stdoutFd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(remaining.count())) <= 0) return false;
    char chunk[4096];
    ssize_t n = ::read(stdoutFd_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
}

std::string ChildProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t start = 0;
        for (size_t end; (end = buffer_.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = buffer_.substr(start, end - start);
            if (line.rfind(prefix, 0) == 0) {
                buffer_.erase(0, end + 1);
                return line;
            }
        }
        if (!ReadMore(deadline)) return "";
    }
}

std::string ChildProcess::ReadAll(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ReadMore(deadline)) {
    }
    std::string all;
    all.swap(buffer_);
    return all;
}

void ChildProcess::Signal(int signal) {
    if (!exited_ && pid_ > 0) ::kill(pid_, signal);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (exited_) return status_;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exited_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string TestProgram(const std::string& name) {
    return BuildOutput("tests/peers/" + name);
}

std::string BuildOutput(const std::string& relativePath) {
    return std::string(VELMORA_BUILD_DIR) + "/" + relativePath;
}

}  // namespace testsupport
