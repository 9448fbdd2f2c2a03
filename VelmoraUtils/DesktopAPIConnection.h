#pragma once

#include <memory>
#include <mutex>

#include "Platform/AppService/AppServiceConnection.h"
#include "VelmoraUtils/IDesktopAPIConnection.h"

namespace utils {

// The app-service channel to the Corvana desktop app ("corvana.partnerApi"). It knows the message
// envelope but no message names: requests go out as value sets, replies come back as Responses, and every
// message the desktop app pushes is acknowledged and handed to the one notification handler.
class DesktopAPIConnection final : public IDesktopAPIConnection {
public:
    DesktopAPIConnection();
    ~DesktopAPIConnection() override;

    platform::Task<bool> Connect() override;
    void Disconnect() override;
    platform::Task<Response> SendRequest(std::string method, Params params) override;
    void SetNotificationHandler(NotificationHandler handler) override;
    void SetClosedHandler(ClosedHandler handler) override;

    class Impl;

private:
    std::shared_ptr<Impl> impl_;
};

class DesktopAPIConnection::Impl : public std::enable_shared_from_this<Impl> {
public:
    platform::Task<bool> Connect();
    void Disconnect();
    platform::Task<Response> SendRequest(std::string method, Params params);
    void SetNotificationHandler(NotificationHandler handler) { notificationHandler_ = std::move(handler); }
    void SetClosedHandler(ClosedHandler handler) { closedHandler_ = std::move(handler); }

private:
    static platform::FireAndForget OnRequestReceived(std::weak_ptr<Impl> weak,
                                                     platform::AppServiceRequestReceivedEventArgs args);
    void OnServiceClosed();

    // Set before the first Connect and not changed afterwards, so they are read without the mutex.
    NotificationHandler notificationHandler_;
    ClosedHandler closedHandler_;

    std::mutex mutex_;  // guards connection_ only
    std::shared_ptr<platform::AppServiceConnection> connection_;
};

}  // namespace utils
