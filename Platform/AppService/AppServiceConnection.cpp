#include "Platform/AppService/AppServiceConnection.h"

#include <sdbus-c++/sdbus-c++.h>
#include <atomic>
#include <coroutine>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "Platform/AppService/AppServiceNames.h"
#include "Platform/AppService/BusLoop.h"
#include "Platform/AppService/CallGate.h"
#include "Platform/AppService/ValueSetCodec.h"
#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ThreadPool.h"

namespace platform {

namespace {

using detail::ValueSetCodec;

constexpr auto kCallTimeout = std::chrono::seconds(25);
constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* kFailed = "org.freedesktop.DBus.Error.Failed";
// What one pushed message may hold. Anything larger is refused before it is converted further.
constexpr ValueSetCodec::Limits kPushLimits{1024 * 1024, 10000};
// The bus daemon refuses a connection's calls beyond its limit of calls awaiting replies (128 in its
// default configuration) with an error reply the other end never sees. Both ends of a channel keep under
// it. Our messages beyond kMaxSendsInFlight wait their turn (CallGate), as that refusal would fail
// whatever request came next, the channel's own subscriptions included. Pushed messages past
// kMaxPushesUnanswered, just under the limit the service's calls meet, are refused by us, so that the service
// learns of it and the channel's owner is told to ask again for what it missed; a push refused by the bus
// would vanish unseen.
constexpr size_t kBusRepliesLimit = 128;
constexpr size_t kMaxSendsInFlight = 32;
constexpr size_t kMaxPushesUnanswered = kBusRepliesLimit - 8;
constexpr const char* kLimitsExceeded = "org.freedesktop.DBus.Error.LimitsExceeded";
// Messages waiting for a turn; beyond that a message fails at once (ResourceLimitsExceeded).
constexpr size_t kMaxSendsQueued = 4096;

std::atomic<uint64_t> nextChannelId{1};

using ServiceNames = detail::AppServiceNames;

ServiceNames NamesFor(const std::string& service) {
    return detail::AppServiceNames::For(service);
}

// Completions go to the pool so that no awaiting coroutine ever continues on the bus thread.
template <typename T>
void CompleteOnPool(const TaskCompletionSource<T>& source, T value) {
    ThreadPool::Default().Post(
        [source, value = std::move(value)]() mutable { source.TrySetResult(std::move(value)); });
}

void FailOnPool(const TaskCompletionSource<AppServiceResponse>& source) {
    CompleteOnPool(source, AppServiceResponse{AppServiceResponseStatus::Failure, {}});
}

}  // namespace

namespace detail {

// The D-Bus method call of a pushed message, waiting for its reply. Bus thread only. It keeps its
// channel, and so the exported object, alive: sd-bus reads the object's method table when the reply is
// sent.
class PendingReply {
public:
    // `unanswered` counts the channel's pushes awaiting their replies; the channel, kept here, holds it.
    PendingReply(sdbus::MethodCall call, std::shared_ptr<BusLoop> loop, std::shared_ptr<void> channel,
                 size_t* unanswered)
        : call_(std::move(call)),
          loop_(std::move(loop)),
          channel_(std::move(channel)),
          unanswered_(unanswered) {
        ++*unanswered_;
    }

    BusLoop* loop() const { return loop_.get(); }

    bool Answer(const ValueSet& response) {
        if (answered_) return false;
        answered_ = true;
        --*unanswered_;
        auto reply = call_.createReply();
        ValueSetCodec::Write(reply, response);
        reply.send();
        return true;
    }
    void RefuseIfUnanswered() {
        if (answered_) return;
        answered_ = true;
        --*unanswered_;
        call_.createErrorReply(sdbus::Error(kFailed, "the message was not handled")).send();
    }

private:
    sdbus::MethodCall call_;
    std::shared_ptr<BusLoop> loop_;  // the request may outlive everything else that holds the loop
    std::shared_ptr<void> channel_;
    size_t* unanswered_;
    bool answered_ = false;
};

}  // namespace detail

// Bus-thread state of one channel; owned by the bus loop so that it dies on that thread.
struct Channel {
    enum class State { Opening, Open, Closed };

    ~Channel() { FailPending(AppServiceConnectionStatus::Unknown); }

    // Ends every call still waiting for the service: Open with `openStatus`, each message as a transport
    // failure. Dropping the proxy would only drop their callbacks.
    void FailPending(AppServiceConnectionStatus openStatus) {
        if (pendingOpen) CompleteOnPool(*std::exchange(pendingOpen, std::nullopt), openStatus);
        auto sends = std::exchange(pendingSends, {});
        for (const auto& [id, source] : sends) FailOnPool(source);
        sendGate.DropWaiting();
    }

    void FinishOpen(AppServiceConnectionStatus status) {
        if (pendingOpen) CompleteOnPool(*std::exchange(pendingOpen, std::nullopt), status);
    }

    ServiceNames names;
    std::string clientPath;
    std::weak_ptr<AppServiceConnection::Impl> owner;
    std::unique_ptr<sdbus::IObject> object;
    std::unique_ptr<sdbus::IProxy> proxy;
    sdbus::Slot ownerMatch;
    std::string serviceOwner;
    State state = State::Opening;
    std::optional<TaskCompletionSource<AppServiceConnectionStatus>> pendingOpen;
    std::map<uint64_t, TaskCompletionSource<AppServiceResponse>> pendingSends;
    uint64_t nextSendId = 0;
    detail::CallGate sendGate{kMaxSendsInFlight, kMaxSendsQueued};  // holds those in pendingSends
    size_t unansweredPushes = 0;
};

struct AppServiceConnection::Impl : std::enable_shared_from_this<Impl> {
    ~Impl() {
        if (loop) {
            auto* raw = loop.get();
            raw->Post([loop = loop, id = id] { loop->Release(id); });
        }
    }

    // The channel's events (pushed messages, then perhaps its closing) reach the handlers one after the
    // other, in the order they arrived on the bus, on one pool thread at a time.
    void Deliver(std::function<void()> event) {
        {
            std::lock_guard lock(inboxMutex);
            inbox.push_back(std::move(event));
            if (delivering) return;
            delivering = true;
        }
        ThreadPool::Default().Post([self = shared_from_this()] { self->DeliverQueued(); });
    }

    void DeliverQueued() {
        for (;;) {
            std::function<void()> event;
            {
                std::lock_guard lock(inboxMutex);
                if (inbox.empty()) {
                    delivering = false;
                    return;
                }
                event = std::move(inbox.front());
                inbox.pop_front();
            }
            try {
                event();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "platform: exception escaped an app-service handler: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "platform: exception escaped an app-service handler\n");
            }
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
    std::vector<RequestsRefusedHandler> RefusedHandlers() {
        std::lock_guard lock(mutex);
        return refusedHandlers;
    }

    const uint64_t id = nextChannelId++;
    std::mutex mutex;
    std::string appServiceName;
    std::string packageFamilyName;
    std::vector<RequestReceivedHandler> requestHandlers;
    std::vector<ServiceClosedHandler> closedHandlers;
    std::vector<RequestsRefusedHandler> refusedHandlers;
    std::shared_ptr<detail::BusLoop> loop;  // set by OpenAsync
    std::weak_ptr<Channel> channel;         // bus thread only

    std::mutex inboxMutex;
    std::deque<std::function<void()>> inbox;
    bool delivering = false;
    std::atomic<bool> refusalNoticePending{false};  // set on the bus thread, cleared as the notice starts
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

void AppServiceConnection::RequestsRefused(RequestsRefusedHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->refusedHandlers.push_back(std::move(handler));
}

namespace {

// Bus thread: a message pushed to our client object. Only sdbus::Error may leave here: anything else
// thrown through sd-bus ends the process.
void OnPushedMessage(const std::weak_ptr<Channel>& weakChannel, detail::BusLoop* loop,
                     sdbus::MethodCall call) {
    auto channel = weakChannel.lock();
    if (!channel) throw sdbus::Error(kAccessDenied, "this channel is closed");
    // Anyone on the bus can call our object; only the service we opened the channel to may push.
    if (channel->state == Channel::State::Closed || channel->serviceOwner.empty() ||
        call.getSender() != channel->serviceOwner) {
        throw sdbus::Error(kAccessDenied, "only the service this channel was opened to may push to it");
    }
    auto owner = channel->owner.lock();
    if (!owner) throw sdbus::Error(kAccessDenied, "this channel is closed");

    if (channel->unansweredPushes >= kMaxPushesUnanswered) {
        // Told after the messages that came before. One notice waits at a time; a refusal after it began
        // to be delivered schedules another, since what its handlers asked for may be older than what
        // this message said.
        if (!owner->refusalNoticePending.exchange(true)) {
            owner->Deliver([owner] {
                owner->refusalNoticePending = false;
                for (const auto& handler : owner->RefusedHandlers()) handler();
            });
        }
        throw sdbus::Error(kLimitsExceeded, "too many pushed messages are waiting to be handled");
    }

    try {
        ValueSet converted;
        std::exception_ptr conversionError;
        try {
            converted = ValueSetCodec::Read(call, kPushLimits);
        } catch (const sdbus::Error&) {
            throw;
        } catch (...) {
            conversionError = std::current_exception();
        }
        auto reply = std::make_shared<detail::PendingReply>(std::move(call), loop->shared_from_this(),
                                                            channel, &channel->unansweredPushes);
        auto request =
            std::make_shared<AppServiceRequest>(std::move(reply), std::move(converted), conversionError);
        owner->Deliver([owner, request] {
            AppServiceRequestReceivedEventArgs args(request);
            for (const auto& handler : owner->RequestHandlers()) handler(args);
        });
    } catch (const sdbus::Error&) {
        throw;
    } catch (const std::exception& e) {
        throw sdbus::Error(kFailed, e.what());
    }
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
    // An Open still pending fails as a refused Open would; messages still pending as transport failures.
    channel->FailPending(AppServiceConnectionStatus::AppServiceUnavailable);
    channel->proxy.reset();
    if (!wasOpen) return;
    if (auto owner = channel->owner.lock()) {
        owner->Deliver([owner] {
            for (const auto& handler : owner->ClosedHandlers()) handler();
        });
    }
}

constexpr const char* kNameHasNoOwner = "org.freedesktop.DBus.Error.NameHasNoOwner";

// The reply to one asynchronous bus call: the error's D-Bus name when the call failed, else its value.
struct NoValue {};
template <typename Value>
struct BusReply {
    std::optional<std::string> error;
    Value value{};
};

// co_await BusCall<Value>(start), on the loop thread: `start` makes an asynchronous call and gives its
// reply to the callback it is handed; the coroutine continues with the reply on the loop thread, in that
// callback. A call dropped unrun (its proxy went, or the connection) takes the waiting coroutine with it:
// the frame is destroyed with the callback, as whatever dropped the call has already ended the open.
template <typename Value>
class BusCall {
public:
    using Done = std::function<void(const sdbus::Error*, Value)>;

    explicit BusCall(std::function<void(Done)> start) : start_(std::move(start)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) {
        auto waiting = std::make_shared<Waiting>(handle, &reply_);
        start_(
            [waiting](const sdbus::Error* error, Value value) { waiting->Resume(error, std::move(value)); });
        // Only a call that went out owns the coroutine: when `start` throws, the coroutine goes on with
        // the exception at its co_await.
        waiting->owned = true;
    }
    BusReply<Value> await_resume() { return std::move(reply_); }

private:
    struct Waiting {
        Waiting(std::coroutine_handle<> handle, BusReply<Value>* reply) : handle(handle), reply(reply) {}
        ~Waiting() {
            if (owned && handle) handle.destroy();
        }
        void Resume(const sdbus::Error* error, Value value) {
            auto resumed = std::exchange(handle, nullptr);
            if (!resumed) return;
            if (error) reply->error = error->getName();
            reply->value = std::move(value);
            resumed.resume();
        }
        std::coroutine_handle<> handle;
        BusReply<Value>* reply;  // in the coroutine's frame
        bool owned = false;
    };

    std::function<void(Done)> start_;
    BusReply<Value> reply_;
};

template <typename Value, typename... Args>
BusCall<Value> CallBusDaemon(detail::BusLoop* raw, const char* method, Args... args) {
    return BusCall<Value>([raw, method, args...](typename BusCall<Value>::Done done) {
        raw->BusDaemon()
            .callMethodAsync(method)
            .onInterface("org.freedesktop.DBus")
            .withTimeout(kCallTimeout)
            .withArguments(args...)
            .uponReplyInvoke([done = std::move(done)](const sdbus::Error* error, Value value) {
                done(error, std::move(value));
            });
    });
}

// Loop thread from start to end: sets the channel up, asks who owns the service name and opens the channel
// there. The channel is held only between replies, so that one dropped meanwhile goes at once, and with it
// its waiting call and this coroutine; its destruction has told the caller (Unknown), as has the service
// leaving while Open waits (AppServiceUnavailable).
FireAndForget OpenOnLoop(std::weak_ptr<AppServiceConnection::Impl> weakImpl, detail::BusLoop* raw,
                         std::string service, std::string packageFamily,
                         TaskCompletionSource<AppServiceConnectionStatus> source) {
    using Status = AppServiceConnectionStatus;
    std::weak_ptr<Channel> weakChannel;
    auto fail = [&weakChannel](Status status) {
        if (auto channel = weakChannel.lock()) {
            channel->state = Channel::State::Closed;
            channel->FinishOpen(status);
        }
    };
    try {
        {
            auto impl = weakImpl.lock();
            if (!impl || !impl->channel.expired()) {
                CompleteOnPool(source, Status::Unknown);
                co_return;
            }
            // From here the channel completes the open: the coroutine keeps no completion of its own.
            auto channel = std::make_shared<Channel>();
            channel->pendingOpen = std::move(source);
            weakChannel = channel;
            channel->names = NamesFor(service);
            channel->clientPath = "/org/velmora/AppServiceClient/c" + std::to_string(impl->id);
            channel->owner = weakImpl;
            raw->Keep(impl->id, channel);
            impl->channel = channel;

            channel->object = sdbus::createObject(raw->Connection(), channel->clientPath);
            channel->object->registerMethod(channel->names.clientInterface, "RequestReceived", "a{sv}",
                                            "a{sv}", [weakChannel, raw](sdbus::MethodCall call) {
                                                OnPushedMessage(weakChannel, raw, std::move(call));
                                            });
            channel->object->finishRegistration();

            // Watch the name before asking for its owner, so that no change falls between the two.
            channel->ownerMatch = raw->Connection().addMatch(
                "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                "member='NameOwnerChanged',arg0='" +
                    service + "'",
                [weakChannel](sdbus::Message& signal) {
                    try {
                        OnOwnerChanged(weakChannel, signal);
                    } catch (const std::exception& e) {
                        std::fprintf(stderr, "platform: owner change not handled: %s\n", e.what());
                    }
                });
        }

        BusReply<std::string> owner = co_await CallBusDaemon<std::string>(raw, "GetNameOwner", service);
        if (weakChannel.expired()) co_return;
        if (owner.error == kNameHasNoOwner) {
            // Nobody owns it: the bus is asked once to start the service (a service file may name a program
            // for it). A bus that knows none answers at once, and the open fails as it would have.
            BusReply<uint32_t> started =
                co_await CallBusDaemon<uint32_t>(raw, "StartServiceByName", service, uint32_t{0});
            if (weakChannel.expired()) co_return;
            if (started.error) {
                fail(Status::AppUnavailable);
                co_return;
            }
            owner = co_await CallBusDaemon<std::string>(raw, "GetNameOwner", service);
            if (weakChannel.expired()) co_return;
        }
        if (owner.error) {
            fail(owner.error == kNameHasNoOwner ? Status::AppUnavailable : Status::Unknown);
            co_return;
        }

        sdbus::IProxy* proxy = nullptr;
        std::string serviceInterface, clientPath;
        {
            auto channel = weakChannel.lock();
            channel->serviceOwner = owner.value;
            channel->proxy = sdbus::createProxy(raw->Connection(), owner.value, channel->names.path);
            proxy = channel->proxy.get();
            serviceInterface = channel->names.serviceInterface;
            clientPath = channel->clientPath;
        }
        BusReply<NoValue> opened = co_await BusCall<NoValue>([&](BusCall<NoValue>::Done done) {
            proxy->callMethodAsync("Open")
                .onInterface(serviceInterface)
                .withTimeout(kCallTimeout)
                .withArguments(packageFamily, sdbus::ObjectPath(clientPath))
                .uponReplyInvoke(
                    [done = std::move(done)](const sdbus::Error* error) { done(error, NoValue{}); });
        });
        auto channel = weakChannel.lock();
        if (!channel) co_return;
        // The service left while Open waited (OnOwnerChanged has closed the channel), or refused it.
        if (opened.error || channel->state != Channel::State::Opening) {
            channel->state = Channel::State::Closed;
            channel->FinishOpen(Status::AppServiceUnavailable);
            co_return;
        }
        channel->state = Channel::State::Open;
        channel->FinishOpen(Status::Success);
    } catch (const std::exception&) {
        fail(Status::Unknown);
    }
}

// Bus thread: the message goes out now; once its reply is in, the oldest waiting message follows. False
// when it could not go out (its caller has been told).
bool SendOnBus(const std::shared_ptr<Channel>& channel, const std::string& interface, const ValueSet& message,
               const TaskCompletionSource<AppServiceResponse>& source, std::chrono::microseconds timeout) {
    const uint64_t id = channel->nextSendId++;
    try {
        auto call = channel->proxy->createMethodCall(interface, "SendMessage");
        ValueSetCodec::Write(call, message);
        channel->pendingSends.emplace(id, source);
        std::weak_ptr<Channel> weakChannel = channel;
        channel->proxy->callMethod(
            call,
            [weakChannel, id](sdbus::MethodReply& reply, const sdbus::Error* error) {
                auto channel = weakChannel.lock();
                if (!channel) return;
                auto pending = channel->pendingSends.find(id);
                if (pending == channel->pendingSends.end()) return;  // already failed
                auto source = std::move(pending->second);
                channel->pendingSends.erase(pending);
                channel->sendGate.Done();
                if (error) return FailOnPool(source);
                try {
                    CompleteOnPool(source, AppServiceResponse{AppServiceResponseStatus::Success,
                                                              ValueSetCodec::Read(reply)});
                } catch (...) {
                    ThreadPool::Default().Post(
                        [source, e = std::current_exception()] { source.TrySetException(e); });
                }
            },
            timeout);
        return true;
    } catch (const std::exception&) {
        channel->pendingSends.erase(id);
        FailOnPool(source);
        return false;
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
    // The open runs on the loop thread; the channel, or whatever ends it first, completes `source`.
    auto* raw = loop.get();
    bool posted = raw->Post([raw, weakImpl = std::weak_ptr<Impl>(impl_), service, packageFamily, source] {
        OpenOnLoop(weakImpl, raw, service, packageFamily, source);
    });
    if (!posted) source.TrySetResult(Status::Unknown);
    return task;
}

Task<AppServiceResponse> AppServiceConnection::SendMessageAsync(ValueSet message) {
    TaskCompletionSource<AppServiceResponse> source;
    auto task = source.GetTask();

    std::shared_ptr<detail::BusLoop> loop;
    std::string interface;
    {
        std::lock_guard lock(impl_->mutex);
        loop = impl_->loop;
        interface = NamesFor(impl_->appServiceName).serviceInterface;
    }
    if (!loop) {
        FailOnPool(source);
        return task;
    }
    std::weak_ptr<Impl> weakImpl = impl_;
    bool posted = loop->Post([weakImpl, interface, message = std::move(message), source]() mutable {
        auto impl = weakImpl.lock();
        auto channel = impl ? impl->channel.lock() : nullptr;
        if (!channel || channel->state == Channel::State::Closed || !channel->proxy)
            return FailOnPool(source);
        // The time a message waits for its turn counts against its time-out, as though it had gone out
        // at once.
        const auto deadline = std::chrono::steady_clock::now() + kCallTimeout;
        std::weak_ptr<Channel> weakChannel = channel;
        auto send = [weakChannel, interface = std::move(interface), message = std::move(message), source,
                     deadline] {
            auto channel = weakChannel.lock();
            if (!channel || channel->state == Channel::State::Closed || !channel->proxy) {
                FailOnPool(source);
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= std::chrono::microseconds::zero()) {
                FailOnPool(source);  // timed out waiting for its turn
                return false;
            }
            return SendOnBus(channel, interface, message, source, left);
        };
        if (!channel->sendGate.Submit(std::move(send), [source] { FailOnPool(source); })) {
            CompleteOnPool(source, AppServiceResponse{AppServiceResponseStatus::ResourceLimitsExceeded, {}});
        }
    });
    if (!posted) source.TrySetResult(AppServiceResponse{AppServiceResponseStatus::Failure, {}});
    return task;
}

}  // namespace platform
