// A small stand-in for the desktop app's end of the channel, written from the bus protocol alone, for the
// desktop-link tests. One thread: the bus is polled here and delayed actions run between polls, so every
// sdbus object is touched by this thread only.
//
//   desktop_test_peer [--name NAME] [--open-delay-ms N] [--fail-open] [--release-name-on-open]
//                     [--connected-push] [--logged-in]
//
// --release-name-on-open gives up the service name instead of answering Open, as a desktop app that quits
// while a widget is opening its channel (the call then never gets an answer).
// Prints "READY" once the name is owned. Besides the desktop messages it answers a few "test.*" methods
// that let a test steer it through the very channel under test (see HandleTestMethod).
#include <poll.h>
#include <unistd.h>

#include <time.h>

#include <sdbus-c++/sdbus-c++.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using DBusMap = std::map<std::string, sdbus::Variant>;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string name = "corvana.partnerApi";
    int openDelayMs = 0;
    bool failOpen = false;
    bool releaseNameOnOpen = false;
    bool connectedPush = false;
    bool loggedIn = false;
};

struct Client {
    std::string uniqueName;
    std::string path;
    std::unique_ptr<sdbus::IProxy> proxy;
};

// The send time on the system-wide monotonic clock, so that the receiver can measure the delivery.
int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

DBusMap Result(DBusMap data) {
    return {{"result", sdbus::Variant(std::move(data))}};
}

DBusMap PlaybackState() {
    DBusMap track{{"uri", sdbus::Variant(std::string("corvana:track:peer1"))},
                  {"name", sdbus::Variant(std::string("Peer Song"))},
                  {"artist", sdbus::Variant(std::string("Peer Artist"))},
                  {"album", sdbus::Variant(std::string("Peer Album"))},
                  {"image", sdbus::Variant(std::string("https://images.example/peer1.jpg"))},
                  {"is_advertisement", sdbus::Variant(false)},
                  {"is_in_collection", sdbus::Variant(false)},
                  {"can_add_to_collection", sdbus::Variant(true)}};
    DBusMap restrictions;
    for (const char* key :
         {"disallow_pausing", "disallow_resuming", "disallow_seeking", "disallow_skipping_prev",
          "disallow_skipping_next", "disallow_toggling_repeat_context", "disallow_toggling_repeat_track",
          "disallow_toggling_shuffle"}) {
        restrictions.emplace(key, sdbus::Variant(false));
    }
    return {{"type", sdbus::Variant(std::string("track"))},
            {"timestamp", sdbus::Variant(std::string("1733650000000"))},
            {"track", sdbus::Variant(track)},
            {"is_active", sdbus::Variant(true)},
            {"is_paused", sdbus::Variant(false)},
            {"shuffle", sdbus::Variant(false)},
            {"repeat", sdbus::Variant(std::string("off"))},
            {"restrictions", sdbus::Variant(restrictions)},
            {"volume_percentage", sdbus::Variant(0.5)}};
}

DBusMap Cluster() {
    auto device = [](const std::string& id, bool active) {
        return DBusMap{{"device_id", sdbus::Variant(id)},
                       {"name", sdbus::Variant("Device " + id)},
                       {"device_type", sdbus::Variant(std::string("computer"))},
                       {"volume", sdbus::Variant(int32_t{50})},
                       {"is_active", sdbus::Variant(active)},
                       {"is_local", sdbus::Variant(active)},
                       {"is_self", sdbus::Variant(active)}};
    };
    DBusMap devices{{"_count", sdbus::Variant(int32_t{2})},
                    {"0", sdbus::Variant(device("d0", true))},
                    {"1", sdbus::Variant(device("d1", false))}};
    return {{"active_device_id", sdbus::Variant(std::string("d0"))}, {"devices", sdbus::Variant(devices)}};
}

DBusMap Notification(const std::string& method, DBusMap params) {
    return {{"method", sdbus::Variant(method)}, {"params", sdbus::Variant(std::move(params))}};
}

class Peer {
public:
    explicit Peer(Options options) : options_(std::move(options)) {}

    int Run() {
        connection_ = sdbus::createSessionBusConnection();
        std::string path = "/" + options_.name;
        for (auto& c : path) c = c == '.' ? '/' : c;
        object_ = sdbus::createObject(*connection_, path);
        object_->registerMethod("Open")
            .onInterface(options_.name + ".AppService")
            .implementedAs(
                [this](sdbus::Result<>&& result, std::string packageFamily, sdbus::ObjectPath client) {
                    OnOpen(std::move(result), std::move(packageFamily), std::move(client));
                });
        object_->registerMethod("SendMessage")
            .onInterface(options_.name + ".AppService")
            .implementedAs([this](sdbus::Result<DBusMap>&& result, DBusMap message) {
                OnSendMessage(std::move(result), std::move(message));
            });
        object_->finishRegistration();
        connection_->requestName(options_.name);
        std::printf("READY\n");
        std::fflush(stdout);

        for (;;) {
            while (connection_->processPendingRequest()) {
            }
            RunDue();
            auto data = connection_->getEventLoopPollData();
            pollfd fd{data.fd, data.events, 0};
            ::poll(&fd, 1, NextTimeoutMs());
        }
    }

private:
    void After(int ms, std::function<void()> action) {
        delayed_.push_back({Clock::now() + std::chrono::milliseconds(ms), std::move(action)});
    }

    void RunDue() {
        auto now = Clock::now();
        std::vector<std::function<void()>> due;
        for (auto it = delayed_.begin(); it != delayed_.end();) {
            if (it->first <= now) {
                due.push_back(std::move(it->second));
                it = delayed_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& action : due) action();
    }

    int NextTimeoutMs() const {
        int timeout = 50;
        auto now = Clock::now();
        for (const auto& [at, action] : delayed_) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count();
            timeout = std::min<int>(timeout, std::max<int>(0, static_cast<int>(ms)));
        }
        return timeout;
    }

    // Pushes "numbered" messages while fewer than pacedLimit_ await their replies, as a sender that keeps
    // under the bus daemon's limit does.
    void PushPaced() {
        while (pacedLeft_ > 0 && pacedInFlight_ < pacedLimit_ && !clients_.empty()) {
            --pacedLeft_;
            ++pacedInFlight_;
            Push(Notification("numbered", {{"n", sdbus::Variant(pacedSent_++)}}), [this] {
                --pacedInFlight_;
                PushPaced();
            });
        }
    }

    void Push(DBusMap message, std::function<void()> replied = {}) {
        for (auto& client : clients_) {
            client.proxy->callMethodAsync("RequestReceived")
                .onInterface(options_.name + ".Client")
                .withArguments(message)
                .uponReplyInvoke([this, path = client.path, replied](const sdbus::Error* error, DBusMap) {
                    if (replied) replied();
                    // The bus daemon's own refusal of a call past its limit never reached the widget.
                    const bool byBus = error && error->getMessage().find(
                                                    "maximum number of pending replies") != std::string::npos;
                    ++(error ? (byBus ? pushesRefusedByBus_ : pushesRefused_) : pushesAnswered_);
                    if (!error) return;
                    // A channel the widget closed: forget it, as the desktop app would.
                    // Later, as this callback belongs to the client's proxy.
                    if (error->getName() == "org.freedesktop.DBus.Error.UnknownObject") {
                        After(0, [this, path] {
                            std::erase_if(clients_, [&](const Client& c) { return c.path == path; });
                        });
                        return;
                    }
                    std::fprintf(stderr, "peer: push refused: %s\n", error->getMessage().c_str());
                });
        }
    }

    void OnOpen(sdbus::Result<>&& result, std::string, sdbus::ObjectPath clientPath) {
        std::string sender = object_->getCurrentlyProcessedMessage()->getSender();
        if (options_.failOpen) {
            result.returnError(sdbus::Error("org.velmora.Test.OpenRefused", "this peer refuses channels"));
            return;
        }
        if (options_.releaseNameOnOpen) {
            unanswered_.push_back(std::make_shared<sdbus::Result<>>(std::move(result)));
            connection_->releaseName(options_.name);
            return;
        }
        auto pending = std::make_shared<sdbus::Result<>>(std::move(result));
        After(options_.openDelayMs, [this, pending, sender, clientPath] {
            pending->returnResults();
            clients_.push_back({sender, clientPath, sdbus::createProxy(*connection_, sender, clientPath)});
            if (options_.connectedPush) {
                Push(Notification("connection_state_changed",
                                  {{"connected", sdbus::Variant(std::string("true"))}}));
            }
        });
    }

    void OnSendMessage(sdbus::Result<DBusMap>&& result, DBusMap message) {
        std::string method = message.count("method") ? message["method"].get<std::string>() : "";
        DBusMap params = message.count("params") ? message["params"].get<DBusMap>() : DBusMap{};
        if (method.rfind("test.", 0) == 0) return HandleTestMethod(std::move(result), method, params);

        received_.push_back(method);
        receivedParams_.push_back(params);
        auto failure = failures_.find(method);
        if (failure != failures_.end() && failure->second.count > 0) {
            --failure->second.count;
            if (failure->second.kind == "dbus") {
                return result.returnError(
                    sdbus::Error("org.velmora.Test.Failed", "injected transport failure"));
            }
            DBusMap error{{"code", sdbus::Variant(int32_t{1})}};
            if (failure->second.kind != "no_message")
                error.emplace("message", sdbus::Variant(std::string("injected")));
            return result.returnResults(DBusMap{{"error", sdbus::Variant(error)}});
        }

        if (method == "me")
            return result.returnResults(Result({{"username", sdbus::Variant(std::string("peer-user"))}}));
        if (method == "auth_request") {
            return result.returnResults(Result({{"auth_code", sdbus::Variant(std::string("peer-code"))}}));
        }
        if (method == "playback_state_request") return result.returnResults(Result(PlaybackState()));
        if (method == "connect_cluster") return result.returnResults(Result(Cluster()));
        result.returnResults(Result({}));

        if (method == "login_state_subscription") {
            Push(
                Notification("login_state_subscription", {{"logged_in", sdbus::Variant(options_.loggedIn)}}));
        } else if (method == "playback_state_subscription") {
            Push(Notification("playback_state_subscription", PlaybackState()));
        } else if (method == "connect_active_device_subscription") {
            Push(Notification("connect_active_device_subscription",
                              {{"active_device_id", sdbus::Variant(std::string("d0"))},
                               {"is_local", sdbus::Variant(true)}}));
        }
    }

    // test.echo: replies with the params as result. test.reply: replies with params["reply"] as the whole
    // reply. test.dbus_error: a D-Bus error reply. test.push: pushes params["message"] to every client after
    // the reply. test.push_unsupported: pushes a message holding a uint64. test.fail: the next
    // params["count"] requests of params["method"] fail ("kind": "error", "no_message" or "dbus").
    // test.received: the desktop methods received so far, their params, the clients and how many
    // test.hang calls wait. test.exit: exits right after the reply. test.push_timed: pushes "timed"
    // carrying its send time. test.push_timed_playback: pushes a playback state whose track name is its
    // send time. test.push_outcomes: how the pushes so far were answered ("answered", "refused" by the
    // widget, "refused_by_bus" before they reached it). test.push_paced: pushes params["count"] messages
    // "numbered", never more than params["in_flight"] awaiting their replies. test.push_burst: pushes
    // params["count"] messages "numbered" carrying "n" = params["first"] (or 0), then one more each, back to
    // back (the bus daemon lets 128 calls wait for their replies at a time). test.push_large: pushes "large"
    // whose params hold params["values"] booleans and a text of params["text_bytes"] bytes. test.hang: never
    // answered. test.slow: answered with its params after params["ms"] milliseconds. test.release_name: gives
    // up the service name after the reply, staying on the bus.
    void HandleTestMethod(sdbus::Result<DBusMap>&& result, const std::string& method, DBusMap& params) {
        if (method == "test.hang") {
            hanging_.push_back(std::make_shared<sdbus::Result<DBusMap>>(std::move(result)));
            return;
        }
        if (method == "test.echo") return result.returnResults(Result(params));
        if (method == "test.push_outcomes") {
            return result.returnResults(Result({{"answered", sdbus::Variant(pushesAnswered_)},
                                                {"refused", sdbus::Variant(pushesRefused_)},
                                                {"refused_by_bus", sdbus::Variant(pushesRefusedByBus_)}}));
        }
        if (method == "test.slow") {
            auto pending = std::make_shared<sdbus::Result<DBusMap>>(std::move(result));
            After(params["ms"].get<int32_t>(), [pending, params] { pending->returnResults(Result(params)); });
            return;
        }
        if (method == "test.reply") return result.returnResults(params["reply"].get<DBusMap>());
        if (method == "test.dbus_error") {
            return result.returnError(sdbus::Error("org.velmora.Test.Failed", "requested failure"));
        }
        if (method == "test.fail") {
            failures_[params["method"].get<std::string>()] = {params["count"].get<int32_t>(),
                                                              params["kind"].get<std::string>()};
            return result.returnResults(Result({}));
        }
        if (method == "test.received") {
            DBusMap paramsByIndex;
            for (size_t i = 0; i < receivedParams_.size(); ++i) {
                paramsByIndex.emplace(std::to_string(i), sdbus::Variant(receivedParams_[i]));
            }
            std::vector<std::string> paths, names;
            for (const auto& client : clients_) {
                paths.push_back(client.path);
                names.push_back(client.uniqueName);
            }
            return result.returnResults(
                Result({{"methods", sdbus::Variant(received_)},
                        {"params", sdbus::Variant(paramsByIndex)},
                        {"client_paths", sdbus::Variant(paths)},
                        {"client_names", sdbus::Variant(names)},
                        {"hanging", sdbus::Variant(static_cast<int32_t>(hanging_.size()))}}));
        }
        result.returnResults(Result({}));
        if (method == "test.push") {
            Push(params["message"].get<DBusMap>());
        } else if (method == "test.push_unsupported") {
            Push({{"method", sdbus::Variant(std::string("login_state_subscription"))},
                  {"params", sdbus::Variant(DBusMap{{"logged_in", sdbus::Variant(uint64_t{1})}})}});
        } else if (method == "test.push_timed") {
            Push(Notification("timed", {{"sent_ns", sdbus::Variant(std::to_string(MonotonicNs()))}}));
        } else if (method == "test.push_timed_playback") {
            // A full playback state whose track name is its send time, for end-to-end delivery timing.
            DBusMap state = PlaybackState();
            auto track = state["track"].get<DBusMap>();
            track["name"] = sdbus::Variant(std::to_string(MonotonicNs()));
            state["track"] = sdbus::Variant(track);
            Push(Notification("playback_state_subscription", state));
        } else if (method == "test.exit") {
            After(20, [] { ::_exit(0); });
        } else if (method == "test.push_paced") {
            pacedLeft_ = params["count"].get<int32_t>();
            pacedInFlight_ = 0;
            pacedLimit_ = params["in_flight"].get<int32_t>();
            PushPaced();
        } else if (method == "test.push_burst") {
            int32_t first = params.count("first") ? params["first"].get<int32_t>() : 0;
            int32_t count = params["count"].get<int32_t>();
            for (int32_t n = first; n < first + count; ++n)
                Push(Notification("numbered", {{"n", sdbus::Variant(n)}}));
        } else if (method == "test.push_large") {
            DBusMap large{{"text", sdbus::Variant(std::string(params["text_bytes"].get<int32_t>(), 'x'))}};
            for (int32_t i = 0; i < params["values"].get<int32_t>(); ++i)
                large.emplace("v" + std::to_string(i), sdbus::Variant(true));
            Push(Notification("large", std::move(large)));
        } else if (method == "test.release_name") {
            connection_->releaseName(options_.name);
        }
    }

    struct Failure {
        int32_t count = 0;
        std::string kind;
    };

    Options options_;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> object_;
    std::vector<Client> clients_;
    std::vector<std::pair<Clock::time_point, std::function<void()>>> delayed_;
    std::vector<std::string> received_;
    std::vector<DBusMap> receivedParams_;
    std::map<std::string, Failure> failures_;
    std::vector<std::shared_ptr<sdbus::Result<DBusMap>>> hanging_;
    int32_t pacedLeft_ = 0, pacedInFlight_ = 0, pacedLimit_ = 0, pacedSent_ = 0;
    int32_t pushesAnswered_ = 0, pushesRefused_ = 0, pushesRefusedByBus_ = 0;
    std::vector<std::shared_ptr<sdbus::Result<>>> unanswered_;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--name" && i + 1 < argc) {
            options.name = argv[++i];
        } else if (arg == "--open-delay-ms" && i + 1 < argc) {
            options.openDelayMs = std::atoi(argv[++i]);
        } else if (arg == "--fail-open") {
            options.failOpen = true;
        } else if (arg == "--release-name-on-open") {
            options.releaseNameOnOpen = true;
        } else if (arg == "--connected-push") {
            options.connectedPush = true;
        } else if (arg == "--logged-in") {
            options.loggedIn = true;
        } else {
            std::fprintf(stderr, "desktop_test_peer: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    try {
        return Peer(options).Run();
    } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "desktop_test_peer: %s\n", error.getMessage().c_str());
        return 1;
    }
}
