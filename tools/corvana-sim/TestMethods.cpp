// The "test." methods: with --test-methods the app answers them on the channel itself, so that a test of the
// widget's channel can steer the app through the very channel under test, and time what crosses it.
//
//   test.echo                replies with the params as the result
//   test.reply               replies with params["reply"] as the whole reply
//   test.dbus_error          a D-Bus error reply
//   test.hang                never answered
//   test.slow                answered with its params after params["ms"] milliseconds
//   test.received            the desktop methods received so far ("methods"), their params ("params", by
//                            index), the open channels ("client_paths", "client_names") and how many
//                            test.hang calls wait ("hanging")
//   test.push_outcomes       how the pushes so far were answered: "answered", "refused" by the widget,
//                            "refused_by_bus" before they reached it
//   test.exit                exits right after the reply
//   test.release_name        gives up the service name after the reply, staying on the bus
// and, after the reply, pushes to every open channel at once, without the pacing of the app's own pushes:
//   test.push                params["message"]
//   test.push_unsupported    a message holding a uint64
//   test.push_timed          "timed" carrying its send time ("sent_ns", CLOCK_MONOTONIC nanoseconds)
//   test.push_timed_playback a playback state whose track name is its send time
//   test.push_burst          params["count"] messages "numbered" carrying "n" = params["first"] (or 0),
//                            then one more each, back to back
//   test.push_paced          params["count"] messages "numbered", never more than params["in_flight"]
//                            awaiting their replies
//   test.push_large          "large", whose params hold params["values"] booleans and a text of
//                            params["text_bytes"] bytes
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "tools/corvana-sim/DesktopService.h"

namespace corvanasim {

namespace {

// The send time on the system-wide monotonic clock, so that the receiver can measure the delivery.
int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int32_t Count(const DBusMap& params, const std::string& key) {
    return Param<int32_t>(params, key).value_or(-1);
}

}  // namespace

void DesktopService::HandleTestMethod(sdbus::Result<DBusMap>&& result, const std::string& method,
                                      const DBusMap& params) {
    if (method == "test.hang") {
        hanging_.push_back(std::make_shared<sdbus::Result<DBusMap>>(std::move(result)));
        return;
    }
    if (method == "test.echo") return result.returnResults(Result(params));
    if (method == "test.reply") {
        auto reply = Param<DBusMap>(params, "reply");
        return result.returnResults(reply ? *reply : Failure(400, "reply (a map) is required"));
    }
    if (method == "test.dbus_error") {
        return result.returnError(sdbus::Error("com.corvana.Error.Failed", "Requested failure"));
    }
    if (method == "test.slow") {
        auto pending = std::make_shared<sdbus::Result<DBusMap>>(std::move(result));
        After(std::max(0, Count(params, "ms")),
              [pending, params] { pending->returnResults(Result(params)); });
        return;
    }
    if (method == "test.push_outcomes") {
        return result.returnResults(
            Result({{"answered", sdbus::Variant(int32_t{pushOutcomes_["answered"]})},
                    {"refused", sdbus::Variant(int32_t{pushOutcomes_["refused"]})},
                    {"refused_by_bus", sdbus::Variant(int32_t{pushOutcomes_["refused_by_bus"]})}}));
    }
    if (method == "test.received") {
        std::vector<std::string> methods, paths, names;
        DBusMap paramsByIndex;
        for (const auto& [name, received] : received_) {
            paramsByIndex.emplace(std::to_string(methods.size()), sdbus::Variant(received));
            methods.push_back(name);
        }
        for (const auto& client : clients_) {
            paths.push_back(client.path);
            names.push_back(client.uniqueName);
        }
        return result.returnResults(
            Result({{"methods", sdbus::Variant(methods)},
                    {"params", sdbus::Variant(paramsByIndex)},
                    {"client_paths", sdbus::Variant(paths)},
                    {"client_names", sdbus::Variant(names)},
                    {"hanging", sdbus::Variant(static_cast<int32_t>(hanging_.size()))}}));
    }
    const bool burst = method == "test.push_burst" || method == "test.push_paced";
    if (burst) {
        if (auto error = BurstCountError(Count(params, "count")))
            return result.returnResults(Failure(400, *error));
    }
    if (!burst && method != "test.push" && method != "test.push_unsupported" && method != "test.push_timed" &&
        method != "test.push_timed_playback" && method != "test.push_large" && method != "test.exit" &&
        method != "test.release_name") {
        return result.returnResults(Failure(404, "Unknown method " + method));
    }
    result.returnResults(Result({}));
    TestPushFollowingReply(method, params);
}

// What the test methods do once they have been answered.
void DesktopService::TestPushFollowingReply(const std::string& method, const DBusMap& params) {
    if (method == "test.push") {
        if (auto message = Param<DBusMap>(params, "message")) PushToEveryChannel(*message);
    } else if (method == "test.push_unsupported") {
        PushToEveryChannel(
            Notification("login_state_subscription", {{"logged_in", sdbus::Variant(uint64_t{1})}}));
    } else if (method == "test.push_timed") {
        PushToEveryChannel(Notification("timed", {{"sent_ns", S(std::to_string(MonotonicNs()))}}));
    } else if (method == "test.push_timed_playback") {
        DBusMap state = PlaybackState();
        auto track = state["track"].get<DBusMap>();
        track["name"] = S(std::to_string(MonotonicNs()));
        state["track"] = sdbus::Variant(track);
        PushToEveryChannel(Notification("playback_state_subscription", std::move(state)));
    } else if (method == "test.push_burst") {
        const int32_t first = Param<int32_t>(params, "first").value_or(0);
        for (int32_t n = first; n < first + Count(params, "count"); ++n)
            PushToEveryChannel(Notification("numbered", {{"n", sdbus::Variant(n)}}));
    } else if (method == "test.push_paced") {
        pacedLeft_ = Count(params, "count");
        pacedInFlight_ = 0;
        pacedLimit_ = Count(params, "in_flight");
        PushPaced();
    } else if (method == "test.push_large") {
        DBusMap large{{"text", S(std::string(std::max(0, Count(params, "text_bytes")), 'x'))}};
        for (int32_t i = 0; i < Count(params, "values"); ++i)
            large.emplace("v" + std::to_string(i), sdbus::Variant(true));
        PushToEveryChannel(Notification("large", std::move(large)));
    } else if (method == "test.exit") {
        After(20, [] { ::_exit(0); });
    } else if (method == "test.release_name") {
        connection_->releaseName(options_.busName);
    }
}

// Pushes "numbered" messages while fewer than pacedLimit_ await their replies, as a sender that keeps under
// the bus daemon's limit does.
void DesktopService::PushPaced() {
    while (pacedLeft_ > 0 && pacedInFlight_ < pacedLimit_ && !clients_.empty()) {
        --pacedLeft_;
        ++pacedInFlight_;
        PushToEveryChannel(Notification("numbered", {{"n", sdbus::Variant(pacedSent_++)}}), [this] {
            --pacedInFlight_;
            PushPaced();
        });
    }
}

// Straight out to every channel, however many await their replies: the bus daemon fails the calls past its
// limit (128 by default) before they reach the widget.
void DesktopService::PushToEveryChannel(DBusMap message, std::function<void()> replied) {
    for (auto& client : clients_) {
        client.proxy->callMethodAsync("RequestReceived")
            .onInterface(options_.busName + ".Client")
            .withArguments(message)
            .uponReplyInvoke([this, serial = client.serial, replied](const sdbus::Error* error, DBusMap) {
                if (replied) replied();
                const bool byBus = error && error->getMessage().find("maximum number of pending replies") !=
                                                std::string::npos;
                ++pushOutcomes_[!error ? "answered" : byBus ? "refused_by_bus" : "refused"];
                if (!error) return;
                // A channel the widget closed: forget it (later, as this callback belongs to its proxy).
                if (error->getName() == "org.freedesktop.DBus.Error.UnknownObject") {
                    After(0, [this, serial] {
                        ForgetClients([&](const Client& c) { return c.serial == serial; });
                    });
                } else {
                    std::fprintf(stderr, "corvana-sim: a widget refused a push: %s\n",
                                 error->getMessage().c_str());
                }
            });
    }
}

}  // namespace corvanasim
