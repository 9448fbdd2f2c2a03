#pragma once

#include <memory>
#include <mutex>

#include "Platform/AppService/AppServiceConnection.h"
#include "VelmoraUtils/IDesktopAPIConnection.h"

namespace utils {

// The app-service channel to the Corvana desktop app ("corvana.partnerApi"). It knows the message
// envelope but no message names: requests go out as value sets, replies come back as Responses, and every
// message the desktop app pushes is acknowledged and handed to the one notification handler. Pushes reach
// the handler one at a time in the order they were sent; those of a channel already dropped never do, and
// no handler runs once the connection is destroyed.
class DesktopAPIConnection final : public IDesktopAPIConnection {
public:
    DesktopAPIConnection();
    ~DesktopAPIConnection() override;

    platform::Task<bool> Connect() override;
    void Disconnect() override;
    platform::Task<Response> SendRequest(std::string method, Params params) override;
    void SetNotificationHandler(NotificationHandler handler) override;
    void SetClosedHandler(ClosedHandler handler) override;
    void SetRefusedHandler(ClosedHandler handler) override;

    class Impl;

private:
    std::shared_ptr<Impl> impl_;
};

class DesktopAPIConnection::Impl : public std::enable_shared_from_this<Impl> {
public:
    platform::Task<bool> Connect();
    // Drops the channel; from then on nothing it pushed reaches the handlers. Returns once a handler call
    // in progress has ended, unless called from inside that call.
    void Disconnect();
    platform::Task<Response> SendRequest(std::string method, Params params);
    void SetNotificationHandler(NotificationHandler handler);
    void SetClosedHandler(ClosedHandler handler);
    void SetRefusedHandler(ClosedHandler handler);
    // Drops the channel and both handlers, waiting as Disconnect does: no handler runs after this.
    void Shutdown();

private:
    using SharedNotificationHandler = std::shared_ptr<const NotificationHandler>;
    using SharedClosedHandler = std::shared_ptr<const ClosedHandler>;

    void OnRequestReceived(uint64_t channel, const platform::AppServiceRequestReceivedEventArgs& args);
    void OnServiceClosed(uint64_t channel);
    void OnRequestsRefused(uint64_t channel);
    // Under mutex_: takes the channel away; the caller releases it once the lock is gone.
    std::shared_ptr<platform::AppServiceConnection> TakeConnection();
    void WaitOutHandlerCall();

    std::mutex mutex_;  // guards the fields below
    SharedNotificationHandler notificationHandler_;
    SharedClosedHandler closedHandler_;
    SharedClosedHandler refusedHandler_;
    std::shared_ptr<platform::AppServiceConnection> connection_;
    // Names connection_; an event of any other channel is stale and dropped.
    uint64_t channel_ = 0;

    // Held while a handler runs: events reach the handlers one at a time, and Disconnect and Shutdown
    // wait here for a call in progress.
    std::mutex handlerCall_;
};

}  // namespace utils
