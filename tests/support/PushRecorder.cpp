#include "tests/support/PushRecorder.h"

#include <thread>

namespace testsupport {

void PushRecorder::Attach(utils::IDesktopAPIConnection& connection) {
    connection.SetNotificationHandler([pushes = pushes_](Notification&& notification) {
        std::lock_guard lock(pushes->mutex);
        pushes->received.push_back(std::move(notification));
    });
}

size_t PushRecorder::Count() {
    std::lock_guard lock(pushes_->mutex);
    return pushes_->received.size();
}

PushRecorder::Notification PushRecorder::At(size_t index) {
    std::lock_guard lock(pushes_->mutex);
    return pushes_->received.at(index);
}

std::vector<PushRecorder::Notification> PushRecorder::All() {
    std::lock_guard lock(pushes_->mutex);
    return pushes_->received;
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
            std::lock_guard lock(pushes_->mutex);
            for (const auto& push : pushes_->received) {
                if (push.method == method && match(push.params)) return push.params;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace testsupport
