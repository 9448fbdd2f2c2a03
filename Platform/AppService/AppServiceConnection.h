#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Foundation/Task.h"
#include "Platform/Foundation/ValueSet.h"

namespace platform {

enum class AppServiceConnectionStatus : int32_t {
    Success = 0,
    AppNotInstalled = 1,
    AppUnavailable = 2,         // nobody owns the service name
    AppServiceUnavailable = 3,  // the owner refused or failed Open
    Unknown = 4,                // no session bus, or anything else
};

enum class AppServiceResponseStatus : int32_t {
    Success = 0,
    Failure = 1,  // transport failure: error reply, time-out, channel not open
    ResourceLimitsExceeded = 2,
    Unknown = 3,
};

struct AppServiceResponse {
    AppServiceResponseStatus Status = AppServiceResponseStatus::Unknown;
    ValueSet Message;
};

namespace detail {
class PendingReply;
}

// One message pushed by the service. Its reply goes back through SendResponseAsync; a request dropped
// without a reply is answered with an error so that the sender is not left waiting.
class AppServiceRequest {
public:
    AppServiceRequest(std::shared_ptr<detail::PendingReply> reply, ValueSet message,
                      std::exception_ptr conversionError);
    ~AppServiceRequest();

    // Throws the conversion error when the pushed message held a type a ValueSet cannot carry.
    const ValueSet& Message() const;
    Task<AppServiceResponseStatus> SendResponseAsync(ValueSet response);

private:
    std::shared_ptr<detail::PendingReply> reply_;
    ValueSet message_;
    std::exception_ptr conversionError_;
};

class AppServiceDeferral {
public:
    explicit AppServiceDeferral(std::shared_ptr<AppServiceRequest> request) : request_(std::move(request)) {}
    // Ends the handling: the request is released (and answered with an error if nobody responded).
    void Complete() { request_.reset(); }

private:
    std::shared_ptr<AppServiceRequest> request_;
};

class AppServiceRequestReceivedEventArgs {
public:
    explicit AppServiceRequestReceivedEventArgs(std::shared_ptr<AppServiceRequest> request)
        : request_(std::move(request)) {}
    const std::shared_ptr<AppServiceRequest>& Request() const { return request_; }
    AppServiceDeferral GetDeferral() const { return AppServiceDeferral(request_); }

private:
    std::shared_ptr<AppServiceRequest> request_;
};

// A channel to an app service on the session bus. The service owns the well-known name N and serves
// interface N + ".AppService" at the object path made of N's dots turned into slashes; this connection
// exports N + ".Client" at a path of its own for the messages the service pushes. Only the unique name that
// owned N when the channel opened may push: anyone else on the bus is refused with AccessDenied.
//
// Replies complete tasks and handlers run on pool threads: the bus thread never runs caller code. The
// channel's events reach its handlers one at a time, in the order they arrived: each pushed message, and
// ServiceClosed after the messages before it. When the service leaves, calls still waiting end at once:
// OpenAsync with AppServiceUnavailable, SendMessageAsync with Failure. Dropping the last reference closes
// the channel and ends its events.
class AppServiceConnection {
public:
    using RequestReceivedHandler = std::function<void(const AppServiceRequestReceivedEventArgs&)>;
    using ServiceClosedHandler = std::function<void()>;
    using RequestsRefusedHandler = std::function<void()>;

    AppServiceConnection();
    ~AppServiceConnection();
    AppServiceConnection(const AppServiceConnection&) = delete;
    AppServiceConnection& operator=(const AppServiceConnection&) = delete;

    void AppServiceName(std::string name);
    std::string AppServiceName() const;
    void PackageFamilyName(std::string name);
    std::string PackageFamilyName() const;

    // Handlers are added before OpenAsync; there is no removal, as with the platform channel.
    void RequestReceived(RequestReceivedHandler handler);
    void ServiceClosed(ServiceClosedHandler handler);
    // Told, in order with the pushed messages, when the channel has refused pushed messages (answered
    // them with LimitsExceeded) because too many were still waiting for their handlers: what they said is
    // lost, and the owner asks for it again.
    void RequestsRefused(RequestsRefusedHandler handler);

    Task<AppServiceConnectionStatus> OpenAsync();
    Task<AppServiceResponse> SendMessageAsync(ValueSet message);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
