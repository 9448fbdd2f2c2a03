#include "Platform/Media/MprisClient.h"

#include <sdbus-c++/sdbus-c++.h>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "Platform/AppService/BusLoop.h"
#include "Platform/Threading/ThreadPool.h"

namespace platform {

namespace {

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

std::atomic<uint64_t> nextClientId{1};

using VariantMap = std::map<std::string, sdbus::Variant>;

template <typename T>
void CompleteOnPool(const TaskCompletionSource<T>& source, T value) {
    ThreadPool::Default().Post(
        [source, value = std::move(value)]() mutable { source.TrySetResult(std::move(value)); });
}

bool IsPlayerName(const std::string& name) {
    return name.rfind(MprisClient::kBusNamePrefix, 0) == 0;
}

// The integer kinds players use for times: MPRIS says x, some send t, i, u or even d.
std::optional<int64_t> AsInteger(const sdbus::Variant& value) {
    const std::string type = value.peekValueType();
    if (type == "x") return value.get<int64_t>();
    if (type == "t") {
        uint64_t v = value.get<uint64_t>();
        return v > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(v);
    }
    if (type == "i") return value.get<int32_t>();
    if (type == "u") return value.get<uint32_t>();
    if (type == "d") {
        double v = value.get<double>();
        if (!std::isfinite(v) || std::fabs(v) > 9.2e18) return std::nullopt;
        return static_cast<int64_t>(v);
    }
    return std::nullopt;
}

// Bus thread: the readers of one property set. Entries of an unexpected type become problems, never
// failures of the whole set.
class PropertyReader {
public:
    explicit PropertyReader(MprisProperties& out) : out_(out) {}

    // Whether `key` is a property it reads (the others need no reading).
    static bool Reads(const std::string& key) {
        static const std::set<std::string> read{"Identity",       "SupportedUriSchemes",
                                                "PlaybackStatus", "LoopStatus",
                                                "Rate",           "Shuffle",
                                                "Volume",         "CanGoNext",
                                                "CanGoPrevious",  "CanPlay",
                                                "CanPause",       "CanSeek",
                                                "CanControl",     "Position",
                                                "Metadata"};
        return read.count(key) != 0;
    }

    void Read(const VariantMap& values) {
        for (const auto& [key, value] : values) Entry(key, value);
    }

private:
    template <typename T>
    void Typed(const std::string& key, const sdbus::Variant& value, std::optional<T>& field) {
        if (value.containsValueOfType<T>()) {
            field = value.get<T>();
        } else {
            Problem(key, value);
        }
    }

    void Problem(const std::string& key, const sdbus::Variant& value) {
        out_.problems.push_back(key + " has the type '" + value.peekValueType() + "'");
    }

    void Entry(const std::string& key, const sdbus::Variant& value) {
        if (key == "Identity") return Typed(key, value, out_.identity);
        if (key == "SupportedUriSchemes") return Typed(key, value, out_.supportedUriSchemes);
        if (key == "PlaybackStatus") return Typed(key, value, out_.playbackStatus);
        if (key == "LoopStatus") return Typed(key, value, out_.loopStatus);
        if (key == "Rate") return Typed(key, value, out_.rate);
        if (key == "Shuffle") return Typed(key, value, out_.shuffle);
        if (key == "Volume") return Typed(key, value, out_.volume);
        if (key == "CanGoNext") return Typed(key, value, out_.canGoNext);
        if (key == "CanGoPrevious") return Typed(key, value, out_.canGoPrevious);
        if (key == "CanPlay") return Typed(key, value, out_.canPlay);
        if (key == "CanPause") return Typed(key, value, out_.canPause);
        if (key == "CanSeek") return Typed(key, value, out_.canSeek);
        if (key == "CanControl") return Typed(key, value, out_.canControl);
        if (key == "Position") {
            out_.positionUs = AsInteger(value);
            if (!out_.positionUs) Problem(key, value);
            return;
        }
        if (key == "Metadata") {
            if (!value.containsValueOfType<VariantMap>()) return Problem(key, value);
            out_.metadata = ReadMetadata(value.get<VariantMap>());
        }
    }

    MprisMetadata ReadMetadata(const VariantMap& values) {
        MprisMetadata metadata;
        for (const auto& [key, value] : values) {
            const std::string type = value.peekValueType();
            if (key == "mpris:trackid") {
                if (type == "o") {
                    metadata.trackId = value.get<sdbus::ObjectPath>();
                } else if (type == "s") {
                    metadata.trackId = value.get<std::string>();
                } else {
                    Problem(key, value);
                }
            } else if (key == "mpris:length") {
                metadata.lengthUs = AsInteger(value);
                if (!metadata.lengthUs) Problem(key, value);
            } else if (key == "xesam:artist") {
                if (type == "as") {
                    metadata.artists = value.get<std::vector<std::string>>();
                } else if (type == "s") {
                    metadata.artists = std::vector<std::string>{value.get<std::string>()};
                } else {
                    Problem(key, value);
                }
            } else if (key == "xesam:title") {
                Typed(key, value, metadata.title);
            } else if (key == "xesam:album") {
                Typed(key, value, metadata.album);
            } else if (key == "mpris:artUrl") {
                Typed(key, value, metadata.artUrl);
            }
        }
        return metadata;
    }

    MprisProperties& out_;
};

}  // namespace

// Bus-thread state of one player.
struct PlayerState {
    std::string busName;
    std::string owner;    // its unique name
    bool known = false;   // read, and `appeared` delivered
    bool failed = false;  // its reading failed; its next signal reads it again
    std::unique_ptr<sdbus::IProxy> proxy;
    // Invalidated properties being read again, each with whether it was invalidated again meanwhile.
    std::map<std::string, bool> rereading;
};

// Bus-thread state of the client; kept by the bus loop so that it dies on that thread.
struct ClientState {
    std::weak_ptr<MprisClient::Impl> owner;
    sdbus::Slot ownerMatch, propertiesMatch, seekedMatch;
    std::map<std::string, std::shared_ptr<PlayerState>> players;  // by bus name
};

struct MprisClient::Impl : std::enable_shared_from_this<Impl> {
    struct Pending {
        MprisProperties change;
        std::optional<int64_t> seekedUs;
        // The delivery scheduled for this entry. A player that left and came back under the same name
        // gets a new entry while the old one's delivery may still wait; that delivery must not take it.
        uint64_t delivery = 0;
    };

    void Deliver(std::function<void(Impl&)> event) {
        std::weak_ptr<Impl> weak = weak_from_this();
        dispatcher->RunAsync([weak, event = std::move(event)] {
            auto self = weak.lock();
            if (!self || self->stopped) return;
            try {
                event(*self);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "platform: exception escaped an MPRIS handler: %s\n", e.what());
            }
        });
    }

    // Bus thread: merges a change into what waits for the dispatcher, and schedules one delivery for it.
    void Queue(const std::string& busName, const MprisProperties* change, std::optional<int64_t> seekedUs) {
        uint64_t delivery = 0;
        {
            std::lock_guard lock(pendingMutex);
            Pending& pending = this->pending[busName];
            if (change) pending.change.Merge(*change);
            if (seekedUs) pending.seekedUs = seekedUs;
            if (pending.delivery != 0) return;
            delivery = pending.delivery = ++lastDelivery;
        }
        Deliver([busName, delivery](Impl& self) {
            Pending taken;
            {
                std::lock_guard lock(self.pendingMutex);
                auto it = self.pending.find(busName);
                if (it == self.pending.end() || it->second.delivery != delivery) return;
                taken = std::move(it->second);
                self.pending.erase(it);
            }
            if (!taken.change.Empty() && self.handlers.changed) self.handlers.changed(busName, taken.change);
            if (taken.seekedUs && self.handlers.seeked) self.handlers.seeked(busName, *taken.seekedUs);
        });
    }

    // Bus thread: what is still merged for a player that has gone is dropped with it.
    void Forget(const std::string& busName) {
        std::lock_guard lock(pendingMutex);
        pending.erase(busName);
    }

    const uint64_t id = nextClientId++;
    std::shared_ptr<CoreDispatcher> dispatcher;
    Handlers handlers;
    std::shared_ptr<detail::BusLoop> loop;
    // Owned by the bus loop alone, so that its matches and proxies always end on the bus thread: a strong
    // reference here could outlive the loop's when a delivery holds the client on the dispatcher.
    std::weak_ptr<ClientState> state;
    std::atomic<bool> stopped{false};

    std::mutex pendingMutex;
    std::map<std::string, Pending> pending;
    uint64_t lastDelivery = 0;
};

namespace {

using Impl = MprisClient::Impl;

void Fail(const std::shared_ptr<ClientState>& state, const std::string& busName, const std::string& problem) {
    if (auto owner = state->owner.lock())
        owner->Deliver([busName, problem](Impl& client) {
            if (client.handlers.failed) client.handlers.failed(busName, problem);
        });
}

void Vanish(const std::shared_ptr<ClientState>& state, const std::string& busName) {
    auto it = state->players.find(busName);
    if (it == state->players.end()) return;
    bool known = it->second->known;
    state->players.erase(it);  // its proxy's calls in flight are dropped, and their callbacks with them
    auto owner = state->owner.lock();
    if (!owner) return;
    owner->Forget(busName);
    if (known)
        owner->Deliver([busName](Impl& client) {
            if (client.handlers.vanished) client.handlers.vanished(busName);
        });
}

// Bus thread: reads both interfaces of a player, then announces it. The reading holds `done` until it ends,
// answered, failed or dropped with the player's proxy when the player leaves mid-call.
void ReadPlayer(const std::weak_ptr<ClientState>& weakState, detail::BusLoop* loop,
                const std::string& busName, const std::string& owner, std::shared_ptr<void> done) {
    auto state = weakState.lock();
    if (!state) return;
    auto player = std::make_shared<PlayerState>();
    player->busName = busName;
    player->owner = owner;
    try {
        player->proxy = sdbus::createProxy(loop->Connection(), owner, kObjectPath);
    } catch (const std::exception& e) {
        return Fail(state, busName, e.what());
    }
    state->players[busName] = player;
    std::weak_ptr<PlayerState> weakPlayer = player;
    auto properties = std::make_shared<MprisProperties>();
    // The root interface first; its failure is no reason to ignore the player (the identity is then the
    // bus name's own).
    auto readPlayerInterface = [weakState, weakPlayer, busName, properties, done]() {
        auto player = weakPlayer.lock();
        if (!player) return;
        player->proxy->callMethodAsync("GetAll")
            .onInterface(kPropertiesInterface)
            .withTimeout(MprisClient::kReadTimeout)
            .withArguments(std::string(kPlayerInterface))
            .uponReplyInvoke([weakState, weakPlayer, busName, properties, done](const sdbus::Error* error,
                                                                                VariantMap values) {
                auto state = weakState.lock();
                auto player = weakPlayer.lock();
                if (!state || !player) return;
                if (error) {
                    Fail(state, busName, "its player properties could not be read: " + error->getMessage());
                    // It stays listed: a player that was busy when it appeared, or answered too late, shows
                    // with its next signal that it is there after all, and is read again then.
                    player->failed = true;
                    return;
                }
                try {
                    PropertyReader(*properties).Read(values);
                } catch (const std::exception& e) {
                    properties->problems.push_back(e.what());
                }
                player->known = true;
                if (auto owner = state->owner.lock())
                    owner->Deliver([busName, properties](Impl& client) {
                        if (client.handlers.appeared) client.handlers.appeared(busName, *properties);
                    });
            });
    };
    player->proxy->callMethodAsync("GetAll")
        .onInterface(kPropertiesInterface)
        .withTimeout(MprisClient::kReadTimeout)
        .withArguments(std::string(kRootInterface))
        .uponReplyInvoke([properties, readPlayerInterface](const sdbus::Error* error, VariantMap values) {
            if (error) {
                properties->problems.push_back("its root properties could not be read: " +
                                               error->getMessage());
            } else {
                try {
                    PropertyReader(*properties).Read(values);
                } catch (const std::exception& e) {
                    properties->problems.push_back(e.what());
                }
            }
            try {
                readPlayerInterface();
            } catch (const std::exception&) {
            }
        });
}

// Bus thread: the players whose owner is `sender` (a program may own several player names).
std::vector<std::shared_ptr<PlayerState>> PlayersOf(ClientState& state, const std::string& sender) {
    std::vector<std::shared_ptr<PlayerState>> found;
    for (const auto& [name, player] : state.players) {
        if (player->known && player->owner == sender) found.push_back(player);
    }
    return found;
}

// Bus thread: the players of `sender` whose reading failed are read again, one reading at a time; what the
// signal says is part of that reading's answer.
void ReadFailedAgain(const std::weak_ptr<ClientState>& weakState, detail::BusLoop* loop, ClientState& state,
                     const std::string& sender) {
    std::vector<std::pair<std::string, std::string>> again;
    for (const auto& [name, player] : state.players) {
        if (player->failed && player->owner == sender) again.emplace_back(name, player->owner);
    }
    for (const auto& [name, owner] : again) ReadPlayer(weakState, loop, name, owner, nullptr);
}

// Bus thread: reads one invalidated property afresh. One reading of a property at a time, and one more
// for the invalidations that came while it was under way: a player that floods invalidations costs two
// calls of each property it names, not one call each (which would also use up the bus's allowance of
// pending replies for this connection, and fail every other call).
void ReadInvalidated(const std::weak_ptr<ClientState>& weakState, const std::shared_ptr<PlayerState>& player,
                     const std::string& interface, const std::string& name) {
    auto [reading, idle] = player->rereading.try_emplace(name, false);
    if (!idle) {
        reading->second = true;
        return;
    }
    std::weak_ptr<PlayerState> weakPlayer = player;
    player->proxy->callMethodAsync("Get")
        .onInterface(kPropertiesInterface)
        .withTimeout(MprisClient::kReadTimeout)
        .withArguments(interface, name)
        .uponReplyInvoke(
            [weakState, weakPlayer, interface, name](const sdbus::Error* error, sdbus::Variant value) {
                auto state = weakState.lock();
                auto player = weakPlayer.lock();
                if (!state || !player) return;
                try {
                    if (!error) {
                        MprisProperties change;
                        PropertyReader(change).Read(VariantMap{{name, value}});
                        if (auto owner = state->owner.lock())
                            owner->Queue(player->busName, &change, std::nullopt);
                    }
                    const bool again = player->rereading[name];
                    player->rereading.erase(name);
                    if (again) ReadInvalidated(weakState, player, interface, name);
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "platform: a player's property not read again: %s\n", e.what());
                }
            });
}

void OnPropertiesChanged(const std::weak_ptr<ClientState>& weakState, detail::BusLoop* loop,
                         sdbus::Message& signal) {
    auto state = weakState.lock();
    if (!state) return;
    ReadFailedAgain(weakState, loop, *state, signal.getSender());
    auto players = PlayersOf(*state, signal.getSender());
    if (players.empty()) return;  // not read yet: its reading answers with what this signal says
    std::string interface;
    VariantMap changed;
    std::vector<std::string> invalidated;
    signal >> interface >> changed >> invalidated;
    if (interface != kPlayerInterface && interface != kRootInterface) return;
    MprisProperties change;
    PropertyReader(change).Read(changed);
    auto owner = state->owner.lock();
    if (!owner) return;
    for (const auto& player : players) {
        owner->Queue(player->busName, &change, std::nullopt);
        // Invalidated ones are read afresh; their values follow as a change of their own.
        for (const auto& name : invalidated) {
            if (PropertyReader::Reads(name)) ReadInvalidated(weakState, player, interface, name);
        }
    }
}

void OnSeeked(const std::weak_ptr<ClientState>& weakState, detail::BusLoop* loop, sdbus::Message& signal) {
    auto state = weakState.lock();
    if (!state) return;
    ReadFailedAgain(weakState, loop, *state, signal.getSender());
    auto players = PlayersOf(*state, signal.getSender());
    if (players.empty()) return;
    int64_t position = 0;
    signal >> position;
    auto owner = state->owner.lock();
    if (!owner) return;
    for (const auto& player : players) owner->Queue(player->busName, nullptr, position);
}

void OnOwnerChanged(const std::weak_ptr<ClientState>& weakState, detail::BusLoop* loop,
                    sdbus::Message& signal) {
    auto state = weakState.lock();
    if (!state) return;
    std::string name, oldOwner, newOwner;
    signal >> name >> oldOwner >> newOwner;
    if (!IsPlayerName(name)) return;
    if (!oldOwner.empty()) Vanish(state, name);
    if (!newOwner.empty()) ReadPlayer(weakState, loop, name, newOwner, nullptr);
}

}  // namespace

MprisClient::MprisClient(std::shared_ptr<CoreDispatcher> dispatcher, Handlers handlers)
    : impl_(std::make_shared<Impl>()) {
    impl_->dispatcher = std::move(dispatcher);
    impl_->handlers = std::move(handlers);
}

MprisClient::~MprisClient() {
    impl_->stopped = true;
    if (impl_->loop) impl_->loop->Post([loop = impl_->loop, id = impl_->id] { loop->Release(id); });
}

Task<bool> MprisClient::StartAsync() {
    TaskCompletionSource<bool> source;
    auto task = source.GetTask();
    if (impl_->loop) {
        source.TrySetResult(false);
        return task;
    }
    try {
        impl_->loop = detail::BusLoop::Get();
    } catch (const std::exception&) {
        source.TrySetResult(false);
        return task;
    }
    auto state = std::make_shared<ClientState>();
    state->owner = impl_;
    impl_->state = state;
    auto* raw = impl_->loop.get();
    bool posted = raw->Post([raw, id = impl_->id, state = std::move(state), source] {
        raw->Keep(id, state);
        std::weak_ptr<ClientState> weakState = state;
        try {
            // Watch first, then list: no player that comes or goes in between is missed.
            state->ownerMatch = raw->Connection().addMatch(
                "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                "member='NameOwnerChanged',arg0namespace='org.mpris.MediaPlayer2'",
                [weakState, raw](sdbus::Message& signal) {
                    try {
                        OnOwnerChanged(weakState, raw, signal);
                    } catch (const std::exception& e) {
                        std::fprintf(stderr, "platform: a player's arrival or departure not handled: %s\n",
                                     e.what());
                    }
                });
            state->propertiesMatch = raw->Connection().addMatch(
                "type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                "path='/org/mpris/MediaPlayer2'",
                [weakState, raw](sdbus::Message& signal) {
                    try {
                        OnPropertiesChanged(weakState, raw, signal);
                    } catch (const std::exception& e) {
                        std::fprintf(stderr, "platform: a player's change not read: %s\n", e.what());
                    }
                });
            state->seekedMatch = raw->Connection().addMatch(
                "type='signal',interface='org.mpris.MediaPlayer2.Player',member='Seeked',"
                "path='/org/mpris/MediaPlayer2'",
                [weakState, raw](sdbus::Message& signal) {
                    try {
                        OnSeeked(weakState, raw, signal);
                    } catch (const std::exception& e) {
                        std::fprintf(stderr, "platform: a player's seek not read: %s\n", e.what());
                    }
                });
            raw->BusDaemon()
                .callMethodAsync("ListNames")
                .onInterface("org.freedesktop.DBus")
                .withTimeout(std::chrono::seconds(25))
                .uponReplyInvoke([weakState, raw, source](const sdbus::Error* error,
                                                          std::vector<std::string> names) {
                    auto state = weakState.lock();
                    if (!state || error) return CompleteOnPool(source, state != nullptr);
                    std::erase_if(names, [](const std::string& name) { return !IsPlayerName(name); });
                    // Started once all are read: the last reading to end, answered or not, lets `done` go.
                    std::shared_ptr<void> done(nullptr, [source](void*) { CompleteOnPool(source, true); });
                    for (const auto& name : names) {
                        raw->BusDaemon()
                            .callMethodAsync("GetNameOwner")
                            .onInterface("org.freedesktop.DBus")
                            .withTimeout(MprisClient::kReadTimeout)
                            .withArguments(name)
                            .uponReplyInvoke(
                                [weakState, raw, name, done](const sdbus::Error* error, std::string owner) {
                                    auto state = weakState.lock();
                                    // Gone meanwhile, or already being read because it came back.
                                    if (!state || error || state->players.count(name)) return;
                                    ReadPlayer(weakState, raw, name, owner, done);
                                });
                    }
                });
        } catch (const std::exception& e) {
            std::fprintf(stderr, "platform: the players could not be followed: %s\n", e.what());
            CompleteOnPool(source, false);
        }
    });
    if (!posted) source.TrySetResult(false);
    return task;
}

namespace {

// Bus thread: the player's proxy, or null when the player is not (or no longer) there.
sdbus::IProxy* ProxyOf(ClientState& state, const std::string& busName) {
    auto it = state.players.find(busName);
    if (it == state.players.end() || !it->second->known) return nullptr;
    return it->second->proxy.get();
}

sdbus::MethodCall BuildCall(sdbus::IProxy& proxy, const MprisCommand& command) {
    using Kind = MprisCommand::Kind;
    auto set = [&](const char* property) {
        auto call = proxy.createMethodCall(kPropertiesInterface, "Set");
        call << std::string(kPlayerInterface) << std::string(property);
        return call;
    };
    switch (command.kind) {
        case Kind::Play:
            return proxy.createMethodCall(kPlayerInterface, "Play");
        case Kind::Pause:
            return proxy.createMethodCall(kPlayerInterface, "Pause");
        case Kind::Next:
            return proxy.createMethodCall(kPlayerInterface, "Next");
        case Kind::Previous:
            return proxy.createMethodCall(kPlayerInterface, "Previous");
        case Kind::Seek: {
            auto call = proxy.createMethodCall(kPlayerInterface, "Seek");
            call << command.microseconds;
            return call;
        }
        case Kind::SetPosition: {
            auto call = proxy.createMethodCall(kPlayerInterface, "SetPosition");
            call << sdbus::ObjectPath(command.text) << command.microseconds;
            return call;
        }
        case Kind::OpenUri: {
            auto call = proxy.createMethodCall(kPlayerInterface, "OpenUri");
            call << command.text;
            return call;
        }
        case Kind::SetShuffle: {
            auto call = set("Shuffle");
            call << sdbus::Variant(command.flag);
            return call;
        }
        case Kind::SetLoopStatus: {
            auto call = set("LoopStatus");
            call << sdbus::Variant(command.text);
            return call;
        }
        case Kind::SetVolume: {
            auto call = set("Volume");
            call << sdbus::Variant(command.number);
            return call;
        }
    }
    throw std::invalid_argument("unknown command");
}

}  // namespace

Task<std::optional<std::string>> MprisClient::CallAsync(std::string busName, MprisCommand command) {
    using Result = std::optional<std::string>;
    TaskCompletionSource<Result> source;
    auto task = source.GetTask();
    if (!impl_->loop) {
        source.TrySetResult(Result("the players are not followed"));
        return task;
    }
    bool posted =
        impl_->loop->Post([weakState = impl_->state, busName, command = std::move(command), source] {
            auto state = weakState.lock();
            sdbus::IProxy* proxy = state ? ProxyOf(*state, busName) : nullptr;
            if (!proxy) return CompleteOnPool(source, Result("the player " + busName + " is gone"));
            try {
                auto call = BuildCall(*proxy, command);
                // The callback goes with the proxy when the player leaves mid-call: the source then fails the
                // task (abandoned), which the caller sees as an error like any other.
                proxy->callMethod(
                    call,
                    [source](sdbus::MethodReply&, const sdbus::Error* error) {
                        CompleteOnPool(
                            source, error ? Result(error->getName() + ": " + error->getMessage()) : Result());
                    },
                    kCommandTimeout);
            } catch (const std::exception& e) {
                CompleteOnPool(source, Result(std::string("the call could not be made: ") + e.what()));
            }
        });
    if (!posted) source.TrySetResult(Result("the session bus is gone"));
    return task;
}

Task<std::optional<int64_t>> MprisClient::GetPositionAsync(std::string busName) {
    using Result = std::optional<int64_t>;
    TaskCompletionSource<Result> source;
    auto task = source.GetTask();
    if (!impl_->loop) {
        source.TrySetResult(Result());
        return task;
    }
    bool posted = impl_->loop->Post([weakState = impl_->state, busName, source] {
        auto state = weakState.lock();
        sdbus::IProxy* proxy = state ? ProxyOf(*state, busName) : nullptr;
        if (!proxy) return CompleteOnPool(source, Result());
        try {
            proxy->callMethodAsync("Get")
                .onInterface(kPropertiesInterface)
                .withTimeout(kReadTimeout)
                .withArguments(std::string(kPlayerInterface), std::string("Position"))
                .uponReplyInvoke([source](const sdbus::Error* error, sdbus::Variant value) {
                    Result position;
                    if (!error) {
                        try {
                            position = AsInteger(value);
                        } catch (const std::exception&) {
                        }
                    }
                    CompleteOnPool(source, position);
                });
        } catch (const std::exception&) {
            CompleteOnPool(source, Result());
        }
    });
    if (!posted) source.TrySetResult(Result());
    return task;
}

}  // namespace platform
