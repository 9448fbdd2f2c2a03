#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VelmoraUtils/IDesktopAPIConnection.h"

namespace testsupport {

// Keeps every message a desktop connection hands to its notification handler. The handler shares what it
// records, so the recorder and the connection may be declared in any order.
class PushRecorder {
public:
    using Notification = utils::IDesktopAPIConnection::Notification;

    void Attach(utils::IDesktopAPIConnection& connection);
    size_t Count();
    Notification At(size_t index);
    std::vector<Notification> All();
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The parameters of the first push of `method` that `match` accepts, waiting up to five seconds.
    std::optional<platform::ValueSet> WaitFor(const std::string& method,
                                              const std::function<bool(const platform::ValueSet&)>& match);

private:
    struct Pushes {
        std::mutex mutex;
        std::vector<Notification> received;
    };
    std::shared_ptr<Pushes> pushes_ = std::make_shared<Pushes>();
};

}  // namespace testsupport
