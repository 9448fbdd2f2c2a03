#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Records what reaches the process-wide logger while it exists, as "LEVEL message" lines.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();

    std::vector<std::string> Lines() const;
    bool Contains(const std::string& line) const;
    size_t Count(const std::string& line) const;
    // Waits until the line has been logged at least `times` times.
    bool WaitFor(const std::string& line, size_t times = 1, int timeoutMs = 10000) const;
    void Clear();

private:
    uint64_t token_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace testsupport
