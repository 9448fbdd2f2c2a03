#include "Platform/AppService/AppServiceConnection.h"

#include <sdbus-c++/sdbus-c++.h>
#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "Platform/AppService/BusLoop.h"
#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ThreadPool.h"

namespace platform {

namespace {

using DBusMap = std::map<std::string, sdbus::Variant>;

constexpr auto kCallTimeout = std::chrono::seconds(25);
constexpr int kMaxNesting = 32;
constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";

std::atomic<uint64_t> nextChannelId{1};

// The bus names of an app service: "corvana.partnerApi" serves "corvana.partnerApi.AppService" at
// "/corvana/partnerApi"; its clients export "corvana.partnerApi.Client".
struct ServiceNames {
    std::string service;
    std::string path;
    std::string serviceInterface;
    std::string clientInterface;
};

ServiceNames NamesFor(const std::string& service) {
    std::string path = "/" + service;
    std::replace(path.begin(), path.end(), '.', '/');
    return {service, path, service + ".AppService", service + ".Client"};
}

ValueSet FromDBus(const DBusMap& map, int depth);

Value FromVariant(const sdbus::Variant& variant, int depth) {
    const std::string type = variant.peekValueType();
    if (type == "s") return Value(variant.get<std::string>());
    if (type == "b") return Value(variant.get<bool>());
    if (type == "i") return Value(variant.get<int32_t>());
    if (type == "d") return Value(variant.get<double>());
    if (type == "as") return Value(variant.get<std::vector<std::string>>());
    if (type == "a{sv}") {
        if (depth >= kMaxNesting) throw PlatformError(E_NOINTERFACE, "value sets nested too deeply");
        return Value(FromDBus(variant.get<DBusMap>(), depth + 1));
    }
    throw PlatformError(E_NOINTERFACE, "unsupported D-Bus type '" + type + "' in a message");
}

ValueSet FromDBus(const DBusMap& map, int depth = 0) {
    ValueSet set;
    for (const auto& [key, variant] : map) set.Insert(key, FromVariant(variant, depth));
    return set;
}

DBusMap ToDBus(const ValueSet& set);

sdbus::Variant ToVariant(const Value& value) {
    switch (value.Kind()) {
        case ValueKind::String:
            return sdbus::Variant(value.AsString());
        case ValueKind::Boolean:
            return sdbus::Variant(value.AsBoolean());
        case ValueKind::Int32:
            return sdbus::Variant(value.AsInt32());
        case ValueKind::Double:
            return sdbus::Variant(value.AsDouble());
        case ValueKind::StringArray:
            return sdbus::Variant(value.AsStringArray());
        case ValueKind::ValueSet:
            return sdbus::Variant(ToDBus(value.AsValueSet()));
    }
    throw PlatformError(E_NOINTERFACE, "unknown value kind");
}

DBusMap ToDBus(const ValueSet& set) {
    DBusMap map;
    for (const auto& [key, value] : set) map.emplace(key, ToVariant(value));
    return map;
}

// Completions go to the pool so that no awaiting coroutine ever continues on the bus thread.
template <typename T>
void CompleteOnPool(const TaskCompletionSource<T>& source, T value) {
    ThreadPool::Default().Post(
        [source, value = std::move(value)]() mutable { source.TrySetResult(std::move(value)); });
}

}  // namespace

namespace detail {

// The D-Bus method call of a pushed message, waiting for its reply. Bus thread only. It keeps its
// channel, and so the exported object, alive: sd-bus reads the object's method table when the reply is
// sent.
class PendingReply {
public:
    PendingReply(sdbus::Result<DBusMap>&& result, std::shared_ptr<BusLoop> loop,
                 std::shared_ptr<void> channel)
        : result_(std::move(result)), loop_(std::move(loop)), channel_(std::move(channel)) {}

    BusLoop* loop() const { return loop_.get(); }

    bool Answer(const ValueSet& response) {
        if (answered_) return false;
        answered_ = true;
        result_.returnResults(ToDBus(response));
        return true;
    }
    void RefuseIfUnanswered() {
        if (answered_) return;
        answered_ = true;
        result_.returnError(sdbus::Error("org.freedesktop.DBus.Error.Failed", "the message was not handled"));
    }

private:
    sdbus::Result<DBusMap> result_;
    std::shared_ptr<BusLoop> loop_;  // the request may outlive everything else that holds the loop
    std::shared_ptr<void> channel_;
    bool answered_ = false;
};

}  // namespace detail

// Bus-thread state of one channel; owned by the bus loop so that it dies on that thread.
struct Channel {
    enum class State { Opening, Open, Closed };

    ServiceNames names;
    std::string clientPath;
    std::weak_ptr<AppServiceConnection::Impl> owner;
    std::unique_ptr<sdbus::IObject> object;
    std::unique_ptr<sdbus::IProxy> proxy;
    sdbus::Slot ownerMatch;
    std::string serviceOwner;
    State state = State::Opening;
};

struct AppServiceConnection::Impl {
    ~Impl() {
        if (loop) {
            auto* raw = loop.get();
            raw->Post([loop = loop, id = id] { loop->Release(id); });
        }
    }

    std::vector<RequestReceivedHandler> RequestHandlers() {
        std::lock_guard lock(mutex);
        return requestHandlers;
    }
    std::vector<ServiceClosedHandler> ClosedHandlers() {
        std::lock_guard lock(mutex);
        return closedHandlers;
    }

    const uint64_t id = nextChannelId++;
    std::mutex mutex;
    std::string appServiceName;
    std::string packageFamilyName;
    std::vector<RequestReceivedHandler> requestHandlers;
    std::vector<ServiceClosedHandler> closedHandlers;
    std::shared_ptr<detail::BusLoop> loop;  // set by OpenAsync
    std::weak_ptr<Channel> channel;         // bus thread only
};

AppServiceRequest::AppServiceRequest(std::shared_ptr<detail::PendingReply> reply, ValueSet message,
                                     std::exception_ptr conversionError)
    : reply_(std::move(reply)), message_(std::move(message)), conversionError_(std::move(conversionError)) {}

AppServiceRequest::~AppServiceRequest() {
    auto* loop = reply_->loop();
    loop->Post([reply = std::move(reply_)] { reply->RefuseIfUnanswered(); });
}

const ValueSet& AppServiceRequest::Message() const {
    if (conversionError_) std::rethrow_exception(conversionError_);
    return message_;
}

Task<AppServiceResponseStatus> AppServiceRequest::SendResponseAsync(ValueSet response) {
    TaskCompletionSource<AppServiceResponseStatus> source;
    bool posted = reply_->loop()->Post([reply = reply_, response = std::move(response), source] {
        auto status = AppServiceResponseStatus::Failure;
        try {
            if (reply->Answer(response)) status = AppServiceResponseStatus::Success;
        } catch (const std::exception&) {
        }
        CompleteOnPool(source, status);
    });
    if (!posted) source.TrySetResult(AppServiceResponseStatus::Failure);
    return source.GetTask();
}

AppServiceConnection::AppServiceConnection() : impl_(std::make_shared<Impl>()) {}

AppServiceConnection::~AppServiceConnection() = default;

void AppServiceConnection::AppServiceName(std::string name) {
    std::lock_guard lock(impl_->mutex);
    impl_->appServiceName = std::move(name);
}

std::string AppServiceConnection::AppServiceName() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->appServiceName;
}

void AppServiceConnection::PackageFamilyName(std::string name) {
    std::lock_guard lock(impl_->mutex);
    impl_->packageFamilyName = std::move(name);
}

std::string AppServiceConnection::PackageFamilyName() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->packageFamilyName;
}

void AppServiceConnection::RequestReceived(RequestReceivedHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->requestHandlers.push_back(std::move(handler));
}

void AppServiceConnection::ServiceClosed(ServiceClosedHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->closedHandlers.push_back(std::move(handler));
}

namespace {

// Bus thread: a message pushed to our client object.
void OnPushedMessage(const std::weak_ptr<Channel>& weakChannel, detail::BusLoop* loop,
                     sdbus::Result<DBusMap>&& result, const DBusMap& message) {
    auto channel = weakChannel.lock();
    if (!channel) throw sdbus::Error(kAccessDenied, "this channel is closed");
    const std::string sender = channel->object->getCurrentlyProcessedMessage()->getSender();
    // Anyone on the bus can call our object; only the service we opened the channel to may push.
    if (channel->state == Channel::State::Closed || channel->serviceOwner.empty() ||
        sender != channel->serviceOwner) {
        throw sdbus::Error(kAccessDenied, "only the service this channel was opened to may push to it");
    }
    auto owner = channel->owner.lock();
    if (!owner) throw sdbus::Error(kAccessDenied, "this channel is closed");

    ValueSet converted;
    std::exception_ptr conversionError;
    try {
        converted = FromDBus(message);
    } catch (...) {
        conversionError = std::current_exception();
    }
    auto reply = std::make_shared<detail::PendingReply>(std::move(result), loop->shared_from_this(), channel);
    auto request =
        std::make_shared<AppServiceRequest>(std::move(reply), std::move(converted), conversionError);
    ThreadPool::Default().Post([handlers = owner->RequestHandlers(), request]() mutable {
        AppServiceRequestReceivedEventArgs args(std::move(request));
        for (const auto& handler : handlers) handler(args);
    });
}

// Bus thread: the owner of the service name changed.
void OnOwnerChanged(const std::weak_ptr<Channel>& weakChannel, sdbus::Message& signal) {
    auto channel = weakChannel.lock();
    if (!channel) return;
    std::string name, oldOwner, newOwner;
    signal >> name >> oldOwner >> newOwner;
    if (name != channel->names.service || channel->serviceOwner.empty() || oldOwner != channel->serviceOwner)
        return;
    bool wasOpen = channel->state == Channel::State::Open;
    channel->state = Channel::State::Closed;
    channel->proxy.reset();
    if (!wasOpen) return;
    if (auto owner = channel->owner.lock()) {
        ThreadPool::Default().Post([handlers = owner->ClosedHandlers()] {
            for (const auto& handler : handlers) handler();
        });
    }
}

}  // namespace

Task<AppServiceConnectionStatus> AppServiceConnection::OpenAsync() {
    using Status = AppServiceConnectionStatus;
    TaskCompletionSource<Status> source;
    auto task = source.GetTask();

    std::shared_ptr<detail::BusLoop> loop;
    try {
        loop = detail::BusLoop::Get();
    } catch (const std::exception&) {
        source.TrySetResult(Status::Unknown);
        return task;
    }
    std::string service, packageFamily;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->loop = loop;
        service = impl_->appServiceName;
        packageFamily = impl_->packageFamilyName;
    }

    std::weak_ptr<Impl> weakImpl = impl_;
    auto* raw = loop.get();
    bool posted = raw->Post([raw, weakImpl, service, packageFamily, source] {
        auto impl = weakImpl.lock();
        if (!impl || !impl->channel.expired()) {
            CompleteOnPool(source, Status::Unknown);
            return;
        }
        try {
            auto channel = std::make_shared<Channel>();
            channel->names = NamesFor(service);
            channel->clientPath = "/org/velmora/AppServiceClient/c" + std::to_string(impl->id);
            channel->owner = weakImpl;
            raw->Keep(impl->id, channel);
            impl->channel = channel;
            std::weak_ptr<Channel> weakChannel = channel;

            channel->object = sdbus::createObject(raw->Connection(), channel->clientPath);
            channel->object->registerMethod("RequestReceived")
                .onInterface(channel->names.clientInterface)
                .implementedAs([weakChannel, raw](sdbus::Result<DBusMap>&& result, DBusMap message) {
                    OnPushedMessage(weakChannel, raw, std::move(result), message);
                });
            channel->object->finishRegistration();

            // Watch the name before asking for its owner, so that no change falls between the two.
            channel->ownerMatch = raw->Connection().addMatch(
                "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                "member='NameOwnerChanged',arg0='" +
                    service + "'",
                [weakChannel](sdbus::Message& signal) { OnOwnerChanged(weakChannel, signal); });

            raw->BusDaemon()
                .callMethodAsync("GetNameOwner")
                .onInterface("org.freedesktop.DBus")
                .withTimeout(kCallTimeout)
                .withArguments(service)
                .uponReplyInvoke(
                    [weakChannel, raw, packageFamily, source](const sdbus::Error* error, std::string owner) {
                        auto channel = weakChannel.lock();
                        if (!channel) return CompleteOnPool(source, Status::Unknown);
                        if (error) {
                            channel->state = Channel::State::Closed;
                            bool noOwner = error->getName() == "org.freedesktop.DBus.Error.NameHasNoOwner";
                            return CompleteOnPool(source, noOwner ? Status::AppUnavailable : Status::Unknown);
                        }
                        channel->serviceOwner = owner;
                        channel->proxy = sdbus::createProxy(raw->Connection(), owner, channel->names.path);
                        channel->proxy->callMethodAsync("Open")
                            .onInterface(channel->names.serviceInterface)
                            .withTimeout(kCallTimeout)
                            .withArguments(packageFamily, sdbus::ObjectPath(channel->clientPath))
                            .uponReplyInvoke([weakChannel, source](const sdbus::Error* error) {
                                auto channel = weakChannel.lock();
                                if (!channel) return CompleteOnPool(source, Status::Unknown);
                                if (error || channel->state != Channel::State::Opening) {
                                    channel->state = Channel::State::Closed;
                                    return CompleteOnPool(source, Status::AppServiceUnavailable);
                                }
                                channel->state = Channel::State::Open;
                                CompleteOnPool(source, Status::Success);
                            });
                    });
        } catch (const std::exception&) {
            CompleteOnPool(source, Status::Unknown);
        }
    });
    if (!posted) source.TrySetResult(Status::Unknown);
    return task;
}

Task<AppServiceResponse> AppServiceConnection::SendMessageAsync(ValueSet message) {
    TaskCompletionSource<AppServiceResponse> source;
    auto task = source.GetTask();
    auto failure = [](const TaskCompletionSource<AppServiceResponse>& source) {
        CompleteOnPool(source, AppServiceResponse{AppServiceResponseStatus::Failure, {}});
    };

    std::shared_ptr<detail::BusLoop> loop;
    std::string interface;
    {
        std::lock_guard lock(impl_->mutex);
        loop = impl_->loop;
        interface = NamesFor(impl_->appServiceName).serviceInterface;
    }
    if (!loop) {
        failure(source);
        return task;
    }
    std::weak_ptr<Impl> weakImpl = impl_;
    bool posted = loop->Post([weakImpl, interface, message = std::move(message), source, failure] {
        auto impl = weakImpl.lock();
        auto channel = impl ? impl->channel.lock() : nullptr;
        if (!channel || channel->state == Channel::State::Closed || !channel->proxy) return failure(source);
        try {
            channel->proxy->callMethodAsync("SendMessage")
                .onInterface(interface)
                .withTimeout(kCallTimeout)
                .withArguments(ToDBus(message))
                .uponReplyInvoke([source, failure](const sdbus::Error* error, DBusMap reply) {
                    if (error) return failure(source);
                    try {
                        CompleteOnPool(
                            source, AppServiceResponse{AppServiceResponseStatus::Success, FromDBus(reply)});
                    } catch (...) {
                        ThreadPool::Default().Post(
                            [source, e = std::current_exception()] { source.TrySetException(e); });
                    }
                });
        } catch (const std::exception&) {
            failure(source);
        }
    });
    if (!posted) source.TrySetResult(AppServiceResponse{AppServiceResponseStatus::Failure, {}});
    return task;
}

}  // namespace platform
