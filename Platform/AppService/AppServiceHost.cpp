#include "Platform/AppService/AppServiceHost.h"

#include <sdbus-c++/sdbus-c++.h>
#include <atomic>
#include <cstdio>
#include <map>
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

constexpr auto kPushTimeout = std::chrono::seconds(5);
constexpr auto kBusTimeout = std::chrono::seconds(25);
constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
// RequestName flags and replies (the D-Bus specification's values).
constexpr uint32_t kAllowReplacement = 0x1;
constexpr uint32_t kPrimaryOwner = 1, kInQueue = 2, kAlreadyOwner = 4;
// What one message from a client may hold; anything larger is refused before it is converted further.
constexpr ValueSetCodec::Limits kRequestLimits{1024 * 1024, 10000};
// Pushes awaiting their clients' replies, all channels together: the bus's limit is on this connection's
// calls, whichever client they go to (see CallGate); a bound per channel alone let a few channels pass
// it. Within that, a channel has a few places of its own: a client that stops answering (a hung widget)
// holds those, each for the time-out, while the other channels' pushes go on in the rest. Later ones wait
// their turn, at most kMaxPushesWaiting of each channel, then fail at once.
constexpr size_t kMaxPushesAwaiting = 32;
constexpr size_t kMaxPushesAwaitingPerChannel = 8;
constexpr size_t kMaxPushesWaiting = 4096;

std::atomic<uint64_t> nextHostId{1};

template <typename T>
void CompleteOnPool(const TaskCompletionSource<T>& source, T value) {
    ThreadPool::Default().Post(
        [source, value = std::move(value)]() mutable { source.TrySetResult(std::move(value)); });
}

}  // namespace

// Bus-thread state of the host; owned by the bus loop so that it dies on that thread: when the host goes,
// or when the loop ends because the bus has gone, which the host is then told.
struct HostState {
    ~HostState();

    struct Channel {
        std::string client;
        std::unique_ptr<sdbus::IProxy> proxy;
        // Its pushes awaiting replies. Their callbacks go with the proxy unrun: these are failed instead.
        std::map<uint64_t, TaskCompletionSource<bool>> pushesAwaiting;
        sdbus::Slot leaveMatch;
    };

    detail::AppServiceNames names;
    std::weak_ptr<AppServiceHost::Impl> owner;
    sdbus::Slot acquiredMatch, lostMatch;
    std::unique_ptr<sdbus::IObject> object;
    bool owned = false;
    std::map<uint64_t, Channel> channels;
    uint64_t nextChannel = 1;
    uint64_t nextPush = 1;
    // After the channels, so it goes first: the pushes still waiting fail before their proxies are gone.
    // Its lanes are the channels.
    detail::CallGate pushes{kMaxPushesAwaiting, kMaxPushesWaiting, kMaxPushesAwaitingPerChannel};
    // Declared after the object, so they go first: a reply must never outlive the object it answers for.
    std::map<uint64_t, sdbus::MethodCall> pendingReplies;
    uint64_t nextReply = 1;
};

struct AppServiceHost::Impl : std::enable_shared_from_this<Impl> {
    // Every event goes through the dispatcher, in the order the bus thread saw it; the handlers run only
    // while the host exists.
    void Deliver(std::function<void(Impl&)> event) {
        std::weak_ptr<Impl> weak = weak_from_this();
        dispatcher->RunAsync([weak, event = std::move(event)] {
            auto self = weak.lock();
            if (!self || self->stopped) return;
            try {
                event(*self);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "platform: exception escaped an app-service host handler: %s\n",
                             e.what());
            }
        });
    }

    const uint64_t id = nextHostId++;
    std::string service;
    std::shared_ptr<CoreDispatcher> dispatcher;
    Handlers handlers;
    std::shared_ptr<detail::BusLoop> loop;  // set by StartAsync
    std::weak_ptr<HostState> state;         // bus thread only
    std::atomic<bool> stopped{false};
};

HostState::~HostState() {
    for (const auto& [id, channel] : channels) {
        for (const auto& [push, source] : channel.pushesAwaiting) CompleteOnPool(source, false);
    }
    auto host = owner.lock();
    if (!host || host->stopped) return;
    host->Deliver([](auto& host) {
        if (host.handlers.busLost) host.handlers.busLost();
    });
}

namespace {

void CloseChannel(HostState& state, uint64_t id) {
    auto channel = state.channels.find(id);
    if (channel == state.channels.end()) return;
    // Its proxy takes the callbacks of its pushes awaiting replies with it: those pushes fail as though
    // unanswered, the waiting ones too, and their places go to the other channels.
    auto awaiting = std::move(channel->second.pushesAwaiting);
    state.channels.erase(channel);
    for (const auto& [push, source] : awaiting) CompleteOnPool(source, false);
    state.pushes.DropLane(id);
    if (auto owner = state.owner.lock())
        owner->Deliver([id](auto& host) {
            if (host.handlers.closed) host.handlers.closed(id);
        });
}

void CloseAll(HostState& state) {
    std::vector<uint64_t> ids;
    for (const auto& [id, channel] : state.channels) ids.push_back(id);
    for (uint64_t id : ids) CloseChannel(state, id);
}

// Bus thread. Only sdbus::Error may leave a method handler: anything else thrown through sd-bus ends the
// process.
void OnOpen(const std::weak_ptr<HostState>& weakState, detail::BusLoop* loop, sdbus::MethodCall call) {
    auto state = weakState.lock();
    if (!state || !state->owned)
        throw sdbus::Error(kAccessDenied, "this process does not serve the name now");
    std::string packageFamily;
    sdbus::ObjectPath clientPath;
    try {
        call >> packageFamily >> clientPath;
    } catch (const sdbus::Error&) {
        throw sdbus::Error(kInvalidArgs, "Open takes a package family name and an object path");
    }
    const std::string client = call.getSender();
    // A client opening the same path again starts over on a fresh channel.
    for (auto it = state->channels.begin(); it != state->channels.end(); ++it) {
        if (it->second.client == client && it->second.proxy->getObjectPath() == clientPath) {
            CloseChannel(*state, it->first);
            break;
        }
    }
    // Each channel holds a match rule on the bus, and the bus allows a connection only so many: a client
    // that opened channel after channel without leaving would end with every other client refused. Past
    // the limit its oldest channel goes, the one it has most likely given up.
    std::vector<uint64_t> ofClient;
    for (const auto& [id, channel] : state->channels) {
        if (channel.client == client) ofClient.push_back(id);
    }
    if (ofClient.size() >= AppServiceHost::kMaxChannelsPerClient) CloseChannel(*state, ofClient.front());
    const uint64_t id = state->nextChannel++;
    HostState::Channel channel;
    channel.client = client;
    try {
        channel.proxy = sdbus::createProxy(loop->Connection(), client, clientPath);
        channel.leaveMatch = loop->Connection().addMatch(
            "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
            "member='NameOwnerChanged',arg0='" +
                client + "'",
            [weakState, id, loop](sdbus::Message& signal) {
                try {
                    std::string name, oldOwner, newOwner;
                    signal >> name >> oldOwner >> newOwner;
                    // Later, not here: closing drops this very match.
                    if (newOwner.empty())
                        loop->Post([weakState, id] {
                            if (auto state = weakState.lock()) CloseChannel(*state, id);
                        });
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "platform: a client's departure not handled: %s\n", e.what());
                }
            });
    } catch (const sdbus::Error&) {
        throw;
    } catch (const std::exception& e) {
        throw sdbus::Error("org.freedesktop.DBus.Error.Failed", e.what());
    }
    state->channels.emplace(id, std::move(channel));
    call.createReply().send();
    if (auto owner = state->owner.lock())
        owner->Deliver([id, client](auto& host) {
            if (host.handlers.opened) host.handlers.opened(id, client);
        });
}

platform::FireAndForget AnswerWhenDone(std::weak_ptr<AppServiceHost::Impl> weakHost, uint64_t replyId,
                                       Task<ValueSet> answer) {
    ValueSet reply;
    bool failed = false;
    try {
        reply = co_await std::move(answer);
    } catch (...) {
        failed = true;
    }
    auto host = weakHost.lock();
    if (!host) co_return;
    host->loop->Post([weakState = host->state, replyId, reply = std::move(reply), failed] {
        auto state = weakState.lock();
        if (!state) return;
        auto pending = state->pendingReplies.find(replyId);
        if (pending == state->pendingReplies.end()) return;
        sdbus::MethodCall call = std::move(pending->second);
        state->pendingReplies.erase(pending);
        if (!failed) {
            try {
                auto message = call.createReply();
                ValueSetCodec::Write(message, reply);
                message.send();
                return;
            } catch (const std::exception& e) {
                // The bus carries no text that is not valid UTF-8, and refuses the whole reply: the client
                // is told so rather than left waiting for its time-out.
                std::fprintf(stderr, "platform: a reply could not be sent: %s\n", e.what());
            }
        }
        try {
            call.createErrorReply(sdbus::Error("org.freedesktop.DBus.Error.Failed",
                                               failed ? "the request failed" : "the reply could not be sent"))
                .send();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "platform: an error reply could not be sent: %s\n", e.what());
        }
    });
}

void OnSendMessage(const std::weak_ptr<HostState>& weakState, sdbus::MethodCall call) {
    auto state = weakState.lock();
    if (!state || !state->owned)
        throw sdbus::Error(kAccessDenied, "this process does not serve the name now");
    const std::string client = call.getSender();
    bool hasChannel = false;
    for (const auto& [id, channel] : state->channels) hasChannel = hasChannel || channel.client == client;
    if (!hasChannel) throw sdbus::Error(kAccessDenied, "open a channel first");
    ValueSet message;
    try {
        message = ValueSetCodec::Read(call, kRequestLimits);
    } catch (const std::exception& e) {
        throw sdbus::Error(kInvalidArgs, e.what());
    }
    auto owner = state->owner.lock();
    if (!owner) throw sdbus::Error(kAccessDenied, "the service is closing");
    const uint64_t replyId = state->nextReply++;
    state->pendingReplies.emplace(replyId, std::move(call));
    owner->Deliver([replyId, client, message = std::move(message)](auto& host) mutable {
        if (!host.handlers.request) return;
        AnswerWhenDone(host.weak_from_this(), replyId, host.handlers.request(client, std::move(message)));
    });
}

void OnNameSignal(const std::weak_ptr<HostState>& weakState, sdbus::Message& signal, bool acquired) {
    auto state = weakState.lock();
    if (!state) return;
    std::string name;
    signal >> name;
    if (name != state->names.service || state->owned == acquired) return;
    state->owned = acquired;
    // A lost name takes its channels with it: their clients now talk to the new owner.
    if (!acquired) CloseAll(*state);
    if (auto owner = state->owner.lock())
        owner->Deliver([acquired](auto& host) {
            if (host.handlers.ownershipChanged) host.handlers.ownershipChanged(acquired);
        });
}

// Bus thread: one push goes out to its channel's client now; false when it could not (its sender has been
// told). Its reply lets the next waiting push of the channel go.
bool SendPush(detail::BusLoop* loop, const std::weak_ptr<HostState>& weakState, uint64_t channelId,
              const ValueSet& message, const TaskCompletionSource<bool>& source) {
    auto state = weakState.lock();
    auto channel = state ? state->channels.find(channelId) : decltype(state->channels.end()){};
    if (!state || channel == state->channels.end()) {
        CompleteOnPool(source, false);
        return false;
    }
    const uint64_t pushId = state->nextPush++;
    try {
        auto call = channel->second.proxy->createMethodCall(state->names.clientInterface, "RequestReceived");
        ValueSetCodec::Write(call, message);
        channel->second.proxy->callMethod(
            call,
            [loop, weakState, channelId, pushId, source](sdbus::MethodReply&, const sdbus::Error* error) {
                auto state = weakState.lock();
                if (!state) return CompleteOnPool(source, false);
                if (error) {
                    // A client that no longer has the object, or is gone, has closed its channel. It is
                    // closed later, not here: that drops the proxy this reply came through.
                    const std::string name = error->getName();
                    if (name == "org.freedesktop.DBus.Error.UnknownObject" ||
                        name == "org.freedesktop.DBus.Error.UnknownMethod" ||
                        name == "org.freedesktop.DBus.Error.ServiceUnknown") {
                        loop->Post([weakState, channelId] {
                            if (auto state = weakState.lock()) CloseChannel(*state, channelId);
                        });
                    }
                }
                CompleteOnPool(source, error == nullptr);
                // The callback runs only while its proxy is there, so its channel is still listed.
                if (auto channel = state->channels.find(channelId); channel != state->channels.end()) {
                    channel->second.pushesAwaiting.erase(pushId);
                    state->pushes.Done(channelId);
                }
            },
            kPushTimeout);
        channel->second.pushesAwaiting.emplace(pushId, source);
        return true;
    } catch (const std::exception&) {
        CompleteOnPool(source, false);
        return false;
    }
}

}  // namespace

AppServiceHost::AppServiceHost(std::string serviceName, std::shared_ptr<CoreDispatcher> dispatcher,
                               Handlers handlers)
    : impl_(std::make_shared<Impl>()) {
    impl_->service = std::move(serviceName);
    impl_->dispatcher = std::move(dispatcher);
    impl_->handlers = std::move(handlers);
}

AppServiceHost::~AppServiceHost() {
    impl_->stopped = true;
    if (!impl_->loop) return;
    impl_->loop->Post(
        [loop = impl_->loop, id = impl_->id, service = impl_->service, weakState = impl_->state] {
            if (auto state = weakState.lock(); state && state->owned) {
                try {
                    loop->BusDaemon()
                        .callMethodAsync("ReleaseName")
                        .onInterface("org.freedesktop.DBus")
                        .withArguments(service)
                        .uponReplyInvoke([](const sdbus::Error*, uint32_t) {});
                } catch (const std::exception&) {
                }
            }
            loop->Release(id);
        });
}

Task<AppServiceNameState> AppServiceHost::StartAsync() {
    TaskCompletionSource<AppServiceNameState> source;
    auto task = source.GetTask();
    if (impl_->loop) {
        source.TrySetResult(AppServiceNameState::Failed);  // started once already
        return task;
    }
    try {
        impl_->loop = detail::BusLoop::Get();
    } catch (const std::exception&) {
        source.TrySetResult(AppServiceNameState::Failed);
        return task;
    }
    // Made here, filled and kept (so destroyed) on the bus thread: the other threads only ever hold it
    // weakly.
    auto state = std::make_shared<HostState>();
    state->names = detail::AppServiceNames::For(impl_->service);
    state->owner = impl_;
    impl_->state = state;
    auto* raw = impl_->loop.get();
    bool posted = raw->Post([raw, weakImpl = std::weak_ptr<Impl>(impl_), state, source]() mutable {
        auto impl = weakImpl.lock();
        if (!impl) return CompleteOnPool(source, AppServiceNameState::Failed);
        raw->Keep(impl->id, state);
        std::weak_ptr<HostState> weakState = state;
        try {
            // Everything is in place before the name is asked for: the first Open may come at once.
            state->object = sdbus::createObject(raw->Connection(), state->names.path);
            state->object->registerMethod(
                state->names.serviceInterface, "Open", "so", "",
                [weakState, raw](sdbus::MethodCall call) { OnOpen(weakState, raw, std::move(call)); });
            state->object->registerMethod(
                state->names.serviceInterface, "SendMessage", "a{sv}", "a{sv}",
                [weakState](sdbus::MethodCall call) { OnSendMessage(weakState, std::move(call)); });
            state->object->finishRegistration();
            for (bool acquired : {true, false}) {
                auto slot = raw->Connection().addMatch(
                    std::string(
                        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                        "member='") +
                        (acquired ? "NameAcquired" : "NameLost") + "',arg0='" + impl->service + "'",
                    [weakState, acquired](sdbus::Message& signal) {
                        try {
                            OnNameSignal(weakState, signal, acquired);
                        } catch (const std::exception& e) {
                            std::fprintf(stderr, "platform: a name change not handled: %s\n", e.what());
                        }
                    });
                (acquired ? state->acquiredMatch : state->lostMatch) = std::move(slot);
            }
            raw->BusDaemon()
                .callMethodAsync("RequestName")
                .onInterface("org.freedesktop.DBus")
                .withTimeout(kBusTimeout)
                .withArguments(impl->service, kAllowReplacement)
                .uponReplyInvoke([weakState, source](const sdbus::Error* error, uint32_t reply) {
                    auto state = weakState.lock();
                    if (error || !state) return CompleteOnPool(source, AppServiceNameState::Failed);
                    if (reply == kPrimaryOwner || reply == kAlreadyOwner) {
                        // The NameAcquired signal may still be on its way: the reply already says so.
                        if (!state->owned) {
                            state->owned = true;
                            if (auto owner = state->owner.lock())
                                owner->Deliver([](auto& host) {
                                    if (host.handlers.ownershipChanged) host.handlers.ownershipChanged(true);
                                });
                        }
                        return CompleteOnPool(source, AppServiceNameState::Owned);
                    }
                    CompleteOnPool(source, reply == kInQueue ? AppServiceNameState::Queued
                                                             : AppServiceNameState::Failed);
                });
        } catch (const std::exception& e) {
            std::fprintf(stderr, "platform: the app service could not be exported: %s\n", e.what());
            CompleteOnPool(source, AppServiceNameState::Failed);
        }
    });
    if (!posted) source.TrySetResult(AppServiceNameState::Failed);
    return task;
}

Task<bool> AppServiceHost::PushAsync(uint64_t channelId, ValueSet message) {
    TaskCompletionSource<bool> source;
    auto task = source.GetTask();
    if (!impl_->loop) {
        source.TrySetResult(false);
        return task;
    }
    auto* loop = impl_->loop.get();
    bool posted = loop->Post(
        [loop, weakState = impl_->state, channelId, message = std::move(message), source]() mutable {
            auto state = weakState.lock();
            auto channel = state ? state->channels.find(channelId) : decltype(state->channels.end()){};
            if (!state || channel == state->channels.end()) return CompleteOnPool(source, false);
            auto send = [loop, weakState, channelId, message = std::move(message), source] {
                return SendPush(loop, weakState, channelId, message, source);
            };
            auto fail = [source] { CompleteOnPool(source, false); };
            if (!state->pushes.Submit(channelId, std::move(send), fail)) fail();
        });
    if (!posted) source.TrySetResult(false);
    return task;
}

}  // namespace platform
