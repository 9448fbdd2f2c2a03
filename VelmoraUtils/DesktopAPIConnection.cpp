#include "VelmoraUtils/DesktopAPIConnection.h"

#include <exception>
#include <optional>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Storage/ApplicationData.h"
#include "VelmoraUtils/Logger.h"

namespace utils {

using platform::AppServiceConnection;
using platform::AppServiceConnectionStatus;
using platform::AppServiceResponseStatus;
using platform::PlatformError;
using platform::Task;

namespace {
constexpr const char* kAppServiceName = "corvana.partnerApi";
}

namespace {
// The connection whose handler this thread is running, so that a Disconnect from inside the handler does
// not wait for its own call to end.
thread_local const DesktopAPIConnection::Impl* handlerRunningFor = nullptr;

struct HandlerScope {
    explicit HandlerScope(const DesktopAPIConnection::Impl* impl) : previous(handlerRunningFor) {
        handlerRunningFor = impl;
    }
    ~HandlerScope() { handlerRunningFor = previous; }
    const DesktopAPIConnection::Impl* previous;
};
}  // namespace

DesktopAPIConnection::DesktopAPIConnection() : impl_(std::make_shared<Impl>()) {}

DesktopAPIConnection::~DesktopAPIConnection() {
    impl_->Shutdown();
}

Task<bool> DesktopAPIConnection::Connect() {
    return impl_->Connect();
}
void DesktopAPIConnection::Disconnect() {
    impl_->Disconnect();
}
Task<IDesktopAPIConnection::Response> DesktopAPIConnection::SendRequest(std::string method, Params params) {
    return impl_->SendRequest(std::move(method), std::move(params));
}
void DesktopAPIConnection::SetNotificationHandler(NotificationHandler handler) {
    impl_->SetNotificationHandler(std::move(handler));
}
void DesktopAPIConnection::SetClosedHandler(ClosedHandler handler) {
    impl_->SetClosedHandler(std::move(handler));
}
void DesktopAPIConnection::SetRefusedHandler(ClosedHandler handler) {
    impl_->SetRefusedHandler(std::move(handler));
}

void DesktopAPIConnection::Impl::SetNotificationHandler(NotificationHandler handler) {
    auto shared = handler ? std::make_shared<const NotificationHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(mutex_);
    notificationHandler_ = std::move(shared);
}

void DesktopAPIConnection::Impl::SetRefusedHandler(ClosedHandler handler) {
    auto shared = handler ? std::make_shared<const ClosedHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(mutex_);
    refusedHandler_ = std::move(shared);
}

void DesktopAPIConnection::Impl::SetClosedHandler(ClosedHandler handler) {
    auto shared = handler ? std::make_shared<const ClosedHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(mutex_);
    closedHandler_ = std::move(shared);
}

Task<bool> DesktopAPIConnection::Impl::Connect() {
    auto self = shared_from_this();
    std::shared_ptr<AppServiceConnection> local;
    try {
        co_await platform::ResumeBackground();

        {
            std::unique_lock lock(mutex_);
            if (connection_) {
                lock.unlock();
                Disconnect();
                co_return false;
            }
            const uint64_t channel = ++channel_;
            connection_ = std::make_shared<AppServiceConnection>();
            connection_->AppServiceName(kAppServiceName);
            connection_->PackageFamilyName(platform::Package::FamilyName());
            std::weak_ptr<Impl> weak = self;
            connection_->RequestReceived(
                [weak, channel](const platform::AppServiceRequestReceivedEventArgs& args) {
                    if (auto impl = weak.lock()) impl->OnRequestReceived(channel, args);
                });
            connection_->ServiceClosed([weak, channel] {
                if (auto impl = weak.lock()) impl->OnServiceClosed(channel);
            });
            connection_->RequestsRefused([weak, channel] {
                if (auto impl = weak.lock()) impl->OnRequestsRefused(channel);
            });
            local = connection_;
        }

        AppServiceConnectionStatus status = co_await local->OpenAsync();

        std::unique_lock lock(mutex_);
        if (connection_ != local) co_return false;  // dropped or replaced while opening
        if (status != AppServiceConnectionStatus::Success) {
            Logger::Instance().LogError("DesktopAPIConnection: OpenAsync failed with status: " +
                                        std::to_string(static_cast<int32_t>(status)));
            lock.unlock();
            Disconnect();
            co_return false;
        }
        Logger::Instance().LogInfo("DesktopAPIConnection: OpenAsync succeeded");
        co_return true;
    } catch (...) {
    }
    Logger::Instance().LogError("DesktopAPIConnection: Connect() threw an exception");
    std::shared_ptr<AppServiceConnection> dropped;
    {
        // Only the channel this call made: a newer one is none of its business.
        std::lock_guard lock(mutex_);
        if (local && connection_ == local) dropped = TakeConnection();
    }
    co_return false;
}

std::shared_ptr<AppServiceConnection> DesktopAPIConnection::Impl::TakeConnection() {
    ++channel_;
    return std::move(connection_);
}

void DesktopAPIConnection::Impl::WaitOutHandlerCall() {
    if (handlerRunningFor == this) return;
    std::lock_guard wait(handlerCall_);
}

void DesktopAPIConnection::Impl::Disconnect() {
    std::shared_ptr<AppServiceConnection> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped = TakeConnection();
    }
    dropped.reset();
    WaitOutHandlerCall();
}

void DesktopAPIConnection::Impl::Shutdown() {
    std::shared_ptr<AppServiceConnection> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped = TakeConnection();
        notificationHandler_.reset();
        closedHandler_.reset();
        refusedHandler_.reset();
    }
    dropped.reset();
    WaitOutHandlerCall();
}

Task<IDesktopAPIConnection::Response> DesktopAPIConnection::Impl::SendRequest(std::string method,
                                                                              Params params) {
    // Handed to the channel here, on the caller's thread and before any hop, so that requests made one
    // after the other reach the desktop app in that order: a pause before its resume, a dragged slider's
    // last value after the others.
    std::optional<Task<platform::AppServiceResponse>> sending;
    std::exception_ptr failure;
    // Held until the reply: a channel dropped meanwhile (Disconnect, a reconnect) still answers what it
    // was sent.
    std::shared_ptr<AppServiceConnection> connection;
    try {
        {
            std::lock_guard lock(mutex_);
            connection = connection_;
        }
        if (!connection) throw PlatformError(platform::E_UNEXPECTED, "the desktop channel is not open");
        sending.emplace(connection->SendMessageAsync(BuildRequest(method, params)));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // Still off the caller's thread, as every other outcome is.
        co_await platform::ResumeBackground();
        std::rethrow_exception(failure);
    }

    auto response = co_await std::move(*sending);
    if (response.Status != AppServiceResponseStatus::Success) co_return Response{true, {}};
    co_return ReadResponse(response.Message);
}

// Runs on the channel's delivery thread, one message after the other in the order they were pushed.
void DesktopAPIConnection::Impl::OnRequestReceived(uint64_t channel,
                                                   const platform::AppServiceRequestReceivedEventArgs& args) {
    try {
        auto deferral = args.GetDeferral();
        auto request = args.Request();
        const platform::ValueSet& message = request->Message();
        // The desktop app only needs to know the message arrived; the next message must not wait a bus
        // round trip for that answer.
        auto acknowledging = request->SendResponseAsync({});
        Notification notification = ReadNotification(message);

        std::lock_guard call(handlerCall_);
        SharedNotificationHandler handler;
        {
            std::lock_guard lock(mutex_);
            if (channel != channel_ || !connection_) return;  // pushed by a channel already dropped
            handler = notificationHandler_;
        }
        if (handler) {
            HandlerScope scope(this);
            (*handler)(std::move(notification));
        }
        deferral.Complete();
    } catch (const std::exception& e) {
        // Whatever goes wrong with one pushed message stays with that message.
        Logger::Instance().LogError(std::string("DesktopAPIConnection: failed to handle a pushed message: ") +
                                    e.what());
    }
}

void DesktopAPIConnection::Impl::OnServiceClosed(uint64_t channel) {
    std::lock_guard call(handlerCall_);
    SharedClosedHandler handler;
    std::shared_ptr<AppServiceConnection> dropped;
    {
        std::lock_guard lock(mutex_);
        if (channel != channel_ || !connection_) return;
        dropped = TakeConnection();
        handler = closedHandler_;
    }
    dropped.reset();
    if (!handler) return;
    try {
        HandlerScope scope(this);
        (*handler)();
    } catch (...) {
    }
}

void DesktopAPIConnection::Impl::OnRequestsRefused(uint64_t channel) {
    std::lock_guard call(handlerCall_);
    SharedClosedHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (channel != channel_ || !connection_) return;
        handler = refusedHandler_;
    }
    if (!handler) return;
    try {
        HandlerScope scope(this);
        (*handler)();
    } catch (...) {
    }
}

}  // namespace utils
