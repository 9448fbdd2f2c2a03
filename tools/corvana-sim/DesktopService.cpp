#include "tools/corvana-sim/DesktopService.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/corvana-sim/Messages.h"

namespace corvanasim {

DesktopService::DesktopService(Options options, Player& player, Accounts& accounts, WebServer& web)
    : options_(std::move(options)),
      player_(player),
      accounts_(accounts),
      web_(web),
      loggedIn_(options_.loggedIn) {}

DesktopService::~DesktopService() {
    clients_.clear();
    ownerWatch_.reset();
    object_.reset();
}

void DesktopService::Export() {
    std::string path = "/" + options_.busName;
    std::replace(path.begin(), path.end(), '.', '/');
    const std::string interface = options_.busName + ".AppService";
    object_ = sdbus::createObject(*connection_, path);
    object_->registerMethod("Open").onInterface(interface).implementedAs(
        [this](sdbus::Result<>&& result, std::string, sdbus::ObjectPath clientPath) {
            OnOpen(std::move(result), clientPath);
        });
    object_->registerMethod("SendMessage")
        .onInterface(interface)
        .implementedAs([this](sdbus::Result<DBusMap>&& result, DBusMap message) {
            OnSendMessage(std::move(result), std::move(message));
        });
    object_->finishRegistration();
    // A widget that leaves the bus is forgotten.
    ownerWatch_ = connection_->addMatch(
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='"
        "NameOwnerChanged'",
        [this](sdbus::Message& signal) {
            std::string name, oldOwner, newOwner;
            signal >> name >> oldOwner >> newOwner;
            if (newOwner.empty()) ForgetClients([&](const Client& c) { return c.uniqueName == name; });
        });
}

int DesktopService::Run(const std::function<void()>& ready) {
    connection_ = sdbus::createSessionBusConnection();
    Export();  // everything is in place before the name is owned
    RequestName();
    ready();

    while (!quit_) {
        while (connection_->processPendingRequest()) {
        }
        RunDue();
        if (player_.Tick()) PushPlayback();
        auto data = connection_->getEventLoopPollData();
        pollfd fds[2] = {{data.fd, data.events, 0}, {STDIN_FILENO, POLLIN, 0}};
        ::poll(fds, 2, NextTimeoutMs());
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buffer[1024];
            ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                // Without a controlling input, keep serving (as a desktop app would) until killed.
                ::close(STDIN_FILENO);
                continue;
            }
            input_.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = input_.find('\n')) != std::string::npos;) {
                std::string line = input_.substr(0, end);
                input_.erase(0, end + 1);
                Command(line);
            }
        }
    }
    return exitCode_;
}

// The desktop app takes its name from a stand-in that serves it meanwhile (velmora-mpris allows that, and
// waits in the queue for it to come free again); it never waits in a queue itself.
void DesktopService::RequestName() {
    constexpr uint32_t kReplaceExisting = 0x2, kDoNotQueue = 0x4, kPrimaryOwner = 1, kAlreadyOwner = 4;
    auto bus = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    uint32_t reply = 0;
    bus->callMethod("RequestName")
        .onInterface("org.freedesktop.DBus")
        .withArguments(options_.busName, kReplaceExisting | kDoNotQueue)
        .storeResultsTo(reply);
    if (reply != kPrimaryOwner && reply != kAlreadyOwner) {
        throw sdbus::Error("org.freedesktop.DBus.Error.FileExists", options_.busName + " has another owner");
    }
}

void DesktopService::After(int ms, std::function<void()> action) {
    delayed_.emplace_back(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms),
                          std::move(action));
}

void DesktopService::RunDue() {
    auto now = std::chrono::steady_clock::now();
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

int DesktopService::NextTimeoutMs() const {
    int timeout = 100;  // the player's clock is looked at this often
    auto now = std::chrono::steady_clock::now();
    for (const auto& [at, action] : delayed_) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count();
        timeout = std::min<int>(timeout, std::max<int>(0, static_cast<int>(ms)));
    }
    return timeout;
}

void DesktopService::OnOpen(sdbus::Result<>&& result, const sdbus::ObjectPath& clientPath) {
    ++requests_["Open"];
    std::string sender = object_->getCurrentlyProcessedMessage()->getSender();
    if (options_.failOpen) {
        return result.returnError(sdbus::Error("com.corvana.Error.OpenRefused", "This app refuses channels"));
    }
    if (options_.releaseNameOnOpen) {
        unansweredOpens_.push_back(std::make_shared<sdbus::Result<>>(std::move(result)));
        connection_->releaseName(options_.busName);
        return;
    }
    if (options_.openDelayMs <= 0) return AcceptChannel(result, sender, clientPath);
    auto pending = std::make_shared<sdbus::Result<>>(std::move(result));
    After(options_.openDelayMs,
          [this, pending, sender, clientPath] { AcceptChannel(*pending, sender, clientPath); });
}

void DesktopService::AcceptChannel(sdbus::Result<>& result, const std::string& sender,
                                   const sdbus::ObjectPath& clientPath) {
    ForgetClients([&](const Client& c) { return c.uniqueName == sender && c.path == clientPath; });
    result.returnResults();
    clients_.push_back(
        {nextClientSerial_++, sender, clientPath, sdbus::createProxy(*connection_, sender, clientPath)});
    if (options_.connectedPush) Push(clients_.back(), "connection_state_changed", {{"connected", S("true")}});
}

void DesktopService::OnSendMessage(sdbus::Result<DBusMap>&& result, DBusMap message) {
    const std::string sender = object_->getCurrentlyProcessedMessage()->getSender();
    auto client = std::find_if(clients_.begin(), clients_.end(),
                               [&](const Client& c) { return c.uniqueName == sender; });
    auto method = Param<std::string>(message, "method");
    auto params = Param<DBusMap>(message, "params").value_or(DBusMap{});
    if (!method) return result.returnResults(Failure(400, "A message needs a method"));
    if (options_.testMethods && method->rfind("test.", 0) == 0)
        return HandleTestMethod(std::move(result), *method, params);
    ++requests_[*method];
    if (options_.testMethods) received_.emplace_back(*method, params);

    auto injection = injections_.find(*method);
    if (injection != injections_.end() && injection->second.count > 0) {
        --injection->second.count;
        if (injection->second.kind == "dbus") {
            return result.returnError(sdbus::Error("com.corvana.Error.Failed", "Injected failure"));
        }
        if (injection->second.kind == "error") return result.returnResults(Failure(500, "Injected failure"));
        if (injection->second.kind == "delay") {
            auto pending = std::make_shared<sdbus::Result<DBusMap>>(std::move(result));
            auto saved = std::make_shared<DBusMap>(params);
            After(injection->second.delayMs, [this, pending, saved, method = *method, sender] {
                auto client = std::find_if(clients_.begin(), clients_.end(),
                                           [&](const Client& c) { return c.uniqueName == sender; });
                std::function<void()> afterReply;
                pending->returnResults(
                    Handle(method, *saved, client == clients_.end() ? nullptr : &*client, afterReply));
                if (afterReply) afterReply();
            });
            return;
        }
    }
    std::function<void()> afterReply;
    result.returnResults(Handle(*method, params, client == clients_.end() ? nullptr : &*client, afterReply));
    if (afterReply) afterReply();
}

DBusMap DesktopService::Handle(const std::string& method, DBusMap& params, Client* client,
                               std::function<void()>& afterReply) {
    auto outcome = [&](std::optional<std::string> error, bool devices = false) {
        if (error) return Failure(400, *error);
        afterReply = [this, devices] {
            PushPlayback();
            if (devices) PushActiveDevice();
        };
        return Result({});
    };

    if (method == "client_connection_setup") {
        if (Param<std::string>(params, "client_id") != options_.clientId)
            return Failure(401, "Unknown client id");
        if (Param<std::string>(params, "feature_identifier").value_or("").empty()) {
            return Failure(400, "A feature identifier is required");
        }
        return Result({});
    }
    if (method == "login_state_subscription" || method == "playback_state_subscription" ||
        method == "connect_active_device_subscription") {
        if (!client) return Failure(403, "Open a channel first");
        // Messages carry no channel of their own: a subscription holds for every channel of the sender.
        const std::string sender = client->uniqueName;
        for (auto& c : clients_) {
            if (c.uniqueName != sender) continue;
            if (method == "login_state_subscription") c.login = true;
            if (method == "playback_state_subscription") c.playback = true;
            if (method == "connect_active_device_subscription") c.device = true;
        }
        afterReply = [this, sender, method] {
            for (auto& c : clients_) {
                if (c.uniqueName != sender) continue;
                if (method == "login_state_subscription") {
                    Push(c, method, {{"logged_in", sdbus::Variant(loggedIn_)}});
                } else if (method == "playback_state_subscription") {
                    Push(c, method, PlaybackState());
                } else {
                    Push(c, method, ActiveDevice());
                }
            }
        };
        return Result({});
    }
    if (method == "me") {
        if (!loggedIn_) return Failure(401, "No user is logged in");
        return Result({{"username", S(options_.user)}});
    }
    if (method == "auth_request") {
        if (!loggedIn_) return Failure(401, "No user is logged in");
        if (Param<std::string>(params, "grant_type") != "auth_code" ||
            Param<std::string>(params, "channel_id") != "1" ||
            Param<std::string>(params, "prompt_type") != "none") {
            return Failure(400, "Malformed auth request");
        }
        auto issued =
            accounts_.IssueCode(Param<std::string>(params, "client_id").value_or(""),
                                Param<std::string>(params, "client_code_challenge").value_or(""),
                                Param<std::string>(params, "redirect_uri").value_or(""), options_.user);
        if (!issued.code) return Failure(400, issued.error);
        return Result({{"auth_code", S(*issued.code)}});
    }
    if (method == "playback_state_request") return Result(PlaybackState());
    if (method == "connect_cluster") return Result(Cluster());
    if (method == "playback_play") {
        auto context = Param<std::string>(params, "context");
        return outcome(context ? player_.Play(*context)
                               : std::optional<std::string>("A context is required"));
    }
    if (method == "playback_pause") return outcome(player_.Pause());
    if (method == "playback_resume") return outcome(player_.Resume());
    if (method == "playback_next") return outcome(player_.Next());
    if (method == "playback_previous") return outcome(player_.Previous());
    if (method == "playback_seek") {
        auto position = Param<int32_t>(params, "position_ms");
        auto relative = Param<bool>(params, "is_relative");
        if (!position || !relative)
            return Failure(400, "position_ms (int32) and is_relative (boolean) are required");
        return outcome(player_.Seek(*position, *relative));
    }
    if (method == "playback_shuffle") {
        auto on = Param<bool>(params, "shuffle");
        return outcome(on ? player_.SetShuffle(*on)
                          : std::optional<std::string>("shuffle (boolean) is required"));
    }
    if (method == "playback_repeat") {
        auto mode = Param<std::string>(params, "repeat");
        return outcome(mode ? player_.SetRepeat(*mode)
                            : std::optional<std::string>("repeat (text) is required"));
    }
    if (method == "playback_volume") {
        auto volume = Param<double>(params, "volume_percentage");
        return outcome(volume ? player_.SetVolume(*volume)
                              : std::optional<std::string>("volume_percentage (double) is required"));
    }
    if (method == "library_add" || method == "library_remove") {
        auto uris = Param<std::vector<std::string>>(params, "uris");
        if (!uris || uris->size() != 1) return Failure(400, "uris must hold exactly one uri");
        return outcome(method == "library_add" ? player_.LibraryAdd(uris->front())
                                               : player_.LibraryRemove(uris->front()));
    }
    if (method == "connect_transfer") {
        auto device = Param<std::string>(params, "device_id");
        return outcome(
            device ? player_.Transfer(*device) : std::optional<std::string>("device_id is required"), true);
    }
    return Failure(404, "Unknown method " + method);
}

// The bus daemon lets a connection have only so many calls awaiting their replies (128 by default) and
// fails the rest before they reach anyone; a burst of pushes past that would lose states. At most
// kMaxPushesInFlight await their replies, the others wait their turn in order, so the last state pushed is
// the last one delivered.
constexpr size_t kMaxPushesInFlight = 32;

void DesktopService::Push(Client& client, const std::string& method, DBusMap params) {
    if (pushesInFlight_ >= kMaxPushesInFlight || !queuedPushes_.empty()) {
        queuedPushes_.push_back({client.serial, method, std::move(params)});
        return;
    }
    SendPush(client.serial, method, std::move(params));
}

void DesktopService::SendPush(uint64_t serial, const std::string& method, DBusMap params) {
    auto client =
        std::find_if(clients_.begin(), clients_.end(), [&](const Client& c) { return c.serial == serial; });
    if (client == clients_.end()) {
        ++pushOutcomes_["dropped"];  // the channel was closed meanwhile
        return;
    }
    ++pushesInFlight_;
    ++client->pushesInFlight;
    client->proxy->callMethodAsync("RequestReceived")
        .onInterface(options_.busName + ".Client")
        .withArguments(Notification(method, std::move(params)))
        .uponReplyInvoke(
            [this, serial](const sdbus::Error* error, DBusMap) { OnPushReplied(serial, error); });
}

void DesktopService::OnPushReplied(uint64_t serial, const sdbus::Error* error) {
    // The callback runs only while its client's proxy is there, so the client is still listed.
    auto client =
        std::find_if(clients_.begin(), clients_.end(), [&](const Client& c) { return c.serial == serial; });
    if (client != clients_.end()) {
        --client->pushesInFlight;
        --pushesInFlight_;
    }
    ++pushOutcomes_[error ? "refused" : "answered"];
    if (error) {
        // A channel the widget has closed: forget it (later, as this callback belongs to its proxy).
        if (error->getName() == "org.freedesktop.DBus.Error.UnknownObject") {
            After(0, [this, serial] { ForgetClients([&](const Client& c) { return c.serial == serial; }); });
        } else {
            std::fprintf(stderr, "corvana-sim: a widget refused a push: %s\n", error->getMessage().c_str());
        }
    }
    SendQueuedPushesLater();
}

// The next ones go out after the running callback, which may belong to a proxy forgotten meanwhile.
void DesktopService::SendQueuedPushesLater() {
    if (queuedPushes_.empty() || pushesInFlight_ >= kMaxPushesInFlight) return;
    After(0, [this] {
        while (!queuedPushes_.empty() && pushesInFlight_ < kMaxPushesInFlight) {
            QueuedPush next = std::move(queuedPushes_.front());
            queuedPushes_.pop_front();
            SendPush(next.serial, next.method, std::move(next.params));
        }
    });
}

// A forgotten client's proxy takes the callbacks of its pushes in flight with it: they no longer hold
// places, or the queue would wait for replies that never come.
void DesktopService::ForgetClients(const std::function<bool(const Client&)>& which) {
    std::erase_if(clients_, [&](const Client& c) {
        if (!which(c)) return false;
        pushesInFlight_ -= c.pushesInFlight;
        return true;
    });
    SendQueuedPushesLater();
}

void DesktopService::PushLogin() {
    for (auto& client : clients_) {
        if (client.login)
            Push(client, "login_state_subscription", {{"logged_in", sdbus::Variant(loggedIn_)}});
    }
}

void DesktopService::PushPlayback() {
    for (auto& client : clients_) {
        if (client.playback) Push(client, "playback_state_subscription", PlaybackState());
    }
}

void DesktopService::PushActiveDevice() {
    for (auto& client : clients_) {
        if (client.device) Push(client, "connect_active_device_subscription", ActiveDevice());
    }
}

DBusMap DesktopService::PlaybackState() const {
    PlaybackView view = player_.View();
    const CatalogItem& item = *view.item;
    DBusMap track{{"uri", S(item.uri)},
                  {"name", S(item.name)},
                  {"artist", S(item.artist)},
                  {"album", S(item.album)},
                  {"image", S(options_.webOrigin + "/images/" + item.imageId + ".png")},
                  {"is_advertisement", sdbus::Variant(item.isAdvertisement())},
                  {"is_in_collection", sdbus::Variant(view.inCollection)},
                  {"can_add_to_collection", sdbus::Variant(!item.isAdvertisement())}};
    const Restrictions& r = view.restrictions;
    DBusMap restrictions{{"disallow_pausing", sdbus::Variant(r.pausing)},
                         {"disallow_resuming", sdbus::Variant(r.resuming)},
                         {"disallow_seeking", sdbus::Variant(r.seeking)},
                         {"disallow_skipping_prev", sdbus::Variant(r.skippingPrev)},
                         {"disallow_skipping_next", sdbus::Variant(r.skippingNext)},
                         {"disallow_toggling_repeat_context", sdbus::Variant(r.togglingRepeatContext)},
                         {"disallow_toggling_repeat_track", sdbus::Variant(r.togglingRepeatTrack)},
                         {"disallow_toggling_shuffle", sdbus::Variant(r.togglingShuffle)}};
    DBusMap state{{"type", S(item.isEpisode()         ? "episode"
                             : item.isAdvertisement() ? "ad"
                                                      : "track")},
                  {"timestamp", S(std::to_string(view.timestampMs))},
                  {"track", sdbus::Variant(track)},
                  {"playback_speed", sdbus::Variant(1.0)},
                  {"position_as_of_timestamp", sdbus::Variant(view.positionMs)},
                  {"duration", sdbus::Variant(item.durationMs)},
                  {"is_active", sdbus::Variant(true)},
                  {"is_paused", sdbus::Variant(view.isPaused)},
                  {"shuffle", sdbus::Variant(view.shuffle)},
                  {"repeat", S(view.repeat)},
                  {"restrictions", sdbus::Variant(restrictions)},
                  {"volume_percentage", sdbus::Variant(view.volume)}};
    if (view.context) state.emplace("context", sdbus::Variant(DBusMap{{"uri", S(*view.context)}}));
    return state;
}

DBusMap DesktopService::Cluster() const {
    DBusMap devices{{"_count", sdbus::Variant(static_cast<int32_t>(player_.Devices().size()))}};
    int32_t index = 0;
    for (const auto& d : player_.Devices()) {
        devices.emplace(std::to_string(index++),
                        sdbus::Variant(DBusMap{
                            {"device_id", S(d.id)},
                            {"name", S(d.name)},
                            {"device_type", S(d.type)},
                            {"volume", sdbus::Variant(d.volume)},
                            {"is_active", sdbus::Variant(d.id == player_.ActiveDeviceId())},
                            {"is_local", sdbus::Variant(d.isSelf)},
                            {"is_self", sdbus::Variant(d.isSelf)},
                            {"capabilities",
                             sdbus::Variant(DBusMap{{"disable_volume", sdbus::Variant(d.disableVolume)}})}}));
    }
    return {{"active_device_id", S(player_.ActiveDeviceId())}, {"devices", sdbus::Variant(devices)}};
}

DBusMap DesktopService::ActiveDevice() const {
    return {{"active_device_id", S(player_.ActiveDeviceId())},
            {"is_local", sdbus::Variant(player_.ActiveDeviceIsLocal())}};
}

std::string DesktopService::Counters() const {
    nlohmann::json counters{{"requests", requests_},
                            {"token_requests", accounts_.TokenRequestsByGrant()},
                            {"codes_issued", accounts_.CodesIssued()},
                            {"feed_requests", web_.FeedRequests()},
                            {"clients", clients_.size()},
                            {"pushes", pushOutcomes_},
                            {"pushes_waiting", pushesInFlight_ + queuedPushes_.size()},
                            {"logged_in", loggedIn_}};
    return counters.dump();
}

// Every push of a burst is queued at once: a bound keeps a mistyped count from filling the memory.
std::optional<std::string> DesktopService::BurstCountError(int count) {
    constexpr int kMaxBurst = 100000;
    if (count <= kMaxBurst) return std::nullopt;
    return "a burst is at most " + std::to_string(kMaxBurst) + " pushes, not " + std::to_string(count);
}

// Control commands, one per line on standard input; each answers one line on standard output.
void DesktopService::Command(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    auto reply = [&](const std::string& text) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    };
    if (command.empty()) return;
    if (command == "login") {
        std::string user;
        if (words >> user) options_.user = user;
        loggedIn_ = true;
        PushLogin();
    } else if (command == "logout") {
        loggedIn_ = false;
        PushLogin();
    } else if (command == "disconnect") {
        std::vector<uint64_t> told;
        for (auto& client : clients_) {
            Push(client, "connection_state_changed", {{"connected", S("false")}});
            told.push_back(client.serial);
        }
        // The pushes go out before the channels are forgotten; a widget may well have opened a new channel
        // meanwhile, and that one stays.
        After(50, [this, told] {
            ForgetClients(
                [&](const Client& c) { return std::find(told.begin(), told.end(), c.serial) != told.end(); });
        });
    } else if (command == "burst") {
        // COUNT copies of the playback state pushed at once to every subscribed widget, numbered 1 to COUNT
        // under "burst", so that a widget's handler can tell which ones it saw and in what order.
        int count = 0;
        if (!(words >> count) || count <= 0) return reply("ERROR usage: burst COUNT");
        if (auto error = BurstCountError(count)) return reply("ERROR " + *error);
        const DBusMap state = PlaybackState();
        for (auto& client : clients_) {
            if (!client.playback) continue;
            for (int32_t n = 1; n <= count; ++n) {
                DBusMap numbered = state;
                numbered.insert_or_assign("burst", sdbus::Variant(n));
                Push(client, "playback_state_subscription", std::move(numbered));
            }
        }
    } else if (command == "crash") {
        std::fflush(stdout);
        ::_exit(3);
    } else if (command == "restart") {
        int ms = 500;
        words >> ms;
        ForgetClients([](const Client&) { return true; });
        connection_->releaseName(options_.busName);
        After(ms, [this] { RequestName(); });
    } else if (command == "fail" || command == "delay") {
        std::string method, kind = command == "delay" ? "delay" : "error";
        int count = 1, delayMs = 0;
        words >> method >> count;
        if (command == "delay") {
            words >> delayMs;
        } else if (std::string k; words >> k) {
            kind = k;
        }
        if (method.empty() || count < 0 || (kind != "error" && kind != "dbus" && kind != "delay")) {
            return reply("ERROR usage: fail METHOD COUNT [error|dbus] | delay METHOD COUNT MS");
        }
        injections_[method] = {count, kind, delayMs};
    } else if (command == "hold-token") {
        web_.HoldTokenAnswers();
    } else if (command == "release-token") {
        web_.ReleaseTokenAnswers();
    } else if (command == "expire-tokens") {
        accounts_.ExpireAccessTokens();
    } else if (command == "expires-in") {
        int seconds = 3600;
        words >> seconds;
        accounts_.SetExpiresIn(seconds);
    } else if (command == "counters") {
        return reply("COUNTERS " + Counters());
    } else if (command == "quit") {
        quit_ = true;
    } else {
        return reply("ERROR unknown command " + command);
    }
    reply("OK " + command);
}

}  // namespace corvanasim
