#include "VelmoraUtils/DesktopAPIConnection.h"

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

DesktopAPIConnection::DesktopAPIConnection() : impl_(std::make_shared<Impl>()) {}

DesktopAPIConnection::~DesktopAPIConnection() {
    impl_->Disconnect();
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

Task<bool> DesktopAPIConnection::Impl::Connect() {
    auto self = shared_from_this();
    try {
        co_await platform::ResumeBackground();

        std::shared_ptr<AppServiceConnection> local;
        {
            std::unique_lock lock(mutex_);
            if (connection_) {
                lock.unlock();
                Disconnect();
                co_return false;
            }
            connection_ = std::make_shared<AppServiceConnection>();
            connection_->AppServiceName(kAppServiceName);
            connection_->PackageFamilyName(platform::Package::FamilyName());
            std::weak_ptr<Impl> weak = self;
            connection_->RequestReceived([weak](const platform::AppServiceRequestReceivedEventArgs& args) {
                OnRequestReceived(weak, args);
            });
            connection_->ServiceClosed([weak] {
                if (auto impl = weak.lock()) impl->OnServiceClosed();
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
        Logger::Instance().Log("INFO", "DesktopAPIConnection: OpenAsync succeeded");
        co_return true;
    } catch (...) {
    }
    Logger::Instance().LogError("DesktopAPIConnection: Connect() threw an exception");
    Disconnect();
    co_return false;
}

void DesktopAPIConnection::Impl::Disconnect() {
    std::shared_ptr<AppServiceConnection> dropped;
    std::lock_guard lock(mutex_);
    dropped = std::move(connection_);
}

Task<IDesktopAPIConnection::Response> DesktopAPIConnection::Impl::SendRequest(std::string method,
                                                                              Params params) {
    std::weak_ptr<Impl> weak = weak_from_this();
    co_await platform::ResumeBackground();

    auto self = weak.lock();
    if (!self) co_return ReadResponse({});

    std::shared_ptr<AppServiceConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
    }
    if (!connection) throw PlatformError(platform::E_UNEXPECTED, "the desktop channel is not open");

    auto response = co_await connection->SendMessageAsync(BuildRequest(method, params));
    if (response.Status != AppServiceResponseStatus::Success) co_return Response{true, {}};
    co_return ReadResponse(response.Message);
}

platform::FireAndForget DesktopAPIConnection::Impl::OnRequestReceived(
    std::weak_ptr<Impl> weak, platform::AppServiceRequestReceivedEventArgs args) {
    auto self = weak.lock();
    if (!self) co_return;
    try {
        auto deferral = args.GetDeferral();
        auto request = args.Request();
        platform::ValueSet message = request->Message();

        auto status = co_await request->SendResponseAsync({});
        if (status != AppServiceResponseStatus::Success) {
            throw PlatformError(platform::E_UNEXPECTED, "the reply to the desktop app failed");
        }
        if (self->notificationHandler_) self->notificationHandler_(ReadNotification(message));
        deferral.Complete();
    } catch (const std::exception& e) {
        // Whatever goes wrong with one pushed message stays with that message.
        Logger::Instance().LogError(std::string("DesktopAPIConnection: failed to handle a pushed message: ") +
                                    e.what());
    }
}

void DesktopAPIConnection::Impl::OnServiceClosed() {
    Disconnect();
    if (!closedHandler_) return;
    try {
        closedHandler_();
    } catch (...) {
    }
}

}  // namespace utils
