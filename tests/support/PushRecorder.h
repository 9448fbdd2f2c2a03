#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VelmoraUtils/IDesktopAPIConnection.h"

namespace testsupport {

// Keeps every message a desktop connection hands to its notification handler.
class PushRecorder {
public:
    using Notification = utils::IDesktopAPIConnection::Notification;

    void Attach(utils::IDesktopAPIConnection& connection);
    size_t Count();
    Notification At(size_t index);
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The parameters of the first push of `method` that `match` accepts, waiting up to five seconds.
    std::optional<platform::ValueSet> WaitFor(const std::string& method,
                                              const std::function<bool(const platform::ValueSet&)>& match);

private:
    std::mutex mutex_;
    std::vector<Notification> pushes_;
};

}  // namespace testsupport
