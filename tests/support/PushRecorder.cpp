#include "tests/support/PushRecorder.h"

#include <thread>

namespace testsupport {

void PushRecorder::Attach(utils::IDesktopAPIConnection& connection) {
    connection.SetNotificationHandler([this](Notification&& notification) {
        std::lock_guard lock(mutex_);
        pushes_.push_back(std::move(notification));
    });
}

size_t PushRecorder::Count() {
    std::lock_guard lock(mutex_);
    return pushes_.size();
}

PushRecorder::Notification PushRecorder::At(size_t index) {
    std::lock_guard lock(mutex_);
    return pushes_.at(index);
}

bool PushRecorder::WaitForCount(size_t count, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Count() < count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::optional<platform::ValueSet> PushRecorder::WaitFor(
    const std::string& method, const std::function<bool(const platform::ValueSet&)>& match) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            for (const auto& push : pushes_) {
                if (push.method == method && match(push.params)) return push.params;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace testsupport
