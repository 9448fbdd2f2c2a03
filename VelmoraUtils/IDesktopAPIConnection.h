#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "Platform/Foundation/Task.h"
#include "Platform/Foundation/ValueSet.h"

namespace utils {

// The transport of the desktop link, behind an interface so that tests (and builds without a bus) can put
// a fake in its place.
class IDesktopAPIConnection {
public:
    // The reply of one request: the value under "error" when present, else under "result", else empty.
    struct Response {
        bool is_error = false;
        platform::ValueSet data;
    };
    // A message the desktop app pushed.
    struct Notification {
        std::string method;
        platform::ValueSet params;
    };
    using Params = std::unordered_map<std::string, platform::Value>;
    using NotificationHandler = std::function<void(Notification&&)>;
    using ClosedHandler = std::function<void()>;

    virtual ~IDesktopAPIConnection() = default;
    // True when the channel is open; never fails.
    virtual platform::Task<bool> Connect() = 0;
    virtual void Disconnect() = 0;
    virtual platform::Task<Response> SendRequest(std::string method, Params params) = 0;
    virtual void SetNotificationHandler(NotificationHandler handler) = 0;
    virtual void SetClosedHandler(ClosedHandler handler) = 0;
    // Told when the channel refused pushed messages it had no room for: the state they carried is to be
    // asked for again. A transport that never refuses one never calls it.
    virtual void SetRefusedHandler(ClosedHandler) {}
};

// The envelope of every request: "method", "params" (a value set, empty when there are none) and "id",
// always "1" because the channel pairs each reply with its request itself.
platform::ValueSet BuildRequest(const std::string& method, const IDesktopAPIConnection::Params& params);
// "error" is looked at first; the value under either key must be a value set.
IDesktopAPIConnection::Response ReadResponse(const platform::ValueSet& reply);
IDesktopAPIConnection::Notification ReadNotification(const platform::ValueSet& message);

}  // namespace utils
