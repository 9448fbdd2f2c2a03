#include "tests/support/LogCapture.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "VelmoraUtils/Logger.h"

namespace testsupport {

LogCapture::LogCapture() {
    token_ = utils::Logger::Instance().AddListener([this](std::string_view level, std::string_view message) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::string(level) + " " + std::string(message));
    });
}

LogCapture::~LogCapture() {
    utils::Logger::Instance().RemoveListener(token_);
}

std::vector<std::string> LogCapture::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool LogCapture::Contains(const std::string& line) const {
    return Count(line) > 0;
}

size_t LogCapture::Count(const std::string& line) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
}

bool LogCapture::WaitFor(const std::string& line, size_t times, int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Count(line) < times) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void LogCapture::Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

}  // namespace testsupport
