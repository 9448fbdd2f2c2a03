// Round trip of a desktop request through the whole link (SendRequest -> bus thread -> peer -> reply ->
// pool -> awaiting caller) against a bare synchronous sdbus-c++ call carrying the same envelope to the same
// peer, both over one private session bus in one run; and the delivery time of a pushed message from the
// peer's send to our notification handler.
//
//   desktop_link_bench [--requests N]
#include <time.h>

#include <sdbus-c++/sdbus-c++.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "Platform/Threading/ManualResetEvent.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono;
using platform::Value;
using platform::ValueSet;
using DBusMap = std::map<std::string, sdbus::Variant>;

namespace {

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Percentiles {
    double p50, p99;
};

Percentiles Summarise(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// A playback-state-sized parameter set, the size of the messages that matter most.
utils::IDesktopAPIConnection::Params Payload() {
    utils::IDesktopAPIConnection::Params params;
    params.emplace("type", Value("track"));
    params.emplace("timestamp", Value("1733650000000"));
    ValueSet track;
    for (const char* key : {"uri", "name", "artist", "album", "image"})
        track.Insert(key, Value(std::string(40, 'x')));
    for (const char* key : {"is_advertisement", "is_in_collection", "can_add_to_collection"}) {
        track.Insert(key, Value(false));
    }
    params.emplace("track", Value(track));
    ValueSet restrictions;
    for (int i = 0; i < 8; ++i) restrictions.Insert("disallow_" + std::to_string(i), Value(false));
    params.emplace("restrictions", Value(restrictions));
    params.emplace("volume_percentage", Value(0.5));
    params.emplace("position_as_of_timestamp", Value(int32_t{61000}));
    return params;
}

sdbus::Variant ToVariant(const Value& value);
DBusMap ToDBus(const ValueSet& set) {
    DBusMap map;
    for (const auto& [key, value] : set) map.emplace(key, ToVariant(value));
    return map;
}
sdbus::Variant ToVariant(const Value& value) {
    switch (value.Kind()) {
        case platform::ValueKind::String:
            return sdbus::Variant(value.AsString());
        case platform::ValueKind::Boolean:
            return sdbus::Variant(value.AsBoolean());
        case platform::ValueKind::Int32:
            return sdbus::Variant(value.AsInt32());
        case platform::ValueKind::Double:
            return sdbus::Variant(value.AsDouble());
        case platform::ValueKind::StringArray:
            return sdbus::Variant(value.AsStringArray());
        case platform::ValueKind::ValueSet:
            return sdbus::Variant(ToDBus(value.AsValueSet()));
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    int requests = 10000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--requests") requests = std::atoi(argv[i + 1]);
    }

    testsupport::ChildProcess daemon(
        {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"});
    std::string address = daemon.WaitForLine("unix:");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    auto desktop = testsupport::StartDesktopApp({"--no-connected-push"});

    utils::DesktopAPIConnection connection;
    std::mutex mutex;
    std::vector<double> pushMicros;
    platform::ManualResetEvent pushed;
    connection.SetNotificationHandler([&](utils::IDesktopAPIConnection::Notification&& n) {
        double micros = (MonotonicNs() - std::stoll(n.params.Lookup("sent_ns").AsString())) / 1000.0;
        std::lock_guard lock(mutex);
        pushMicros.push_back(micros);
        pushed.Set();
    });
    if (!connection.Connect().Get()) return 1;

    auto params = Payload();
    std::vector<double> linkMicros, bareMicros;
    auto bare = sdbus::createSessionBusConnection();
    auto proxy = sdbus::createProxy(*bare, "corvana.partnerApi", "/corvana/partnerApi");

    for (int i = 0; i < 200; ++i) connection.SendRequest("test.echo", params).Get();  // warm up
    // Interleaved, so that both see the same machine state.
    for (int i = 0; i < requests; ++i) {
        auto start = steady_clock::now();
        connection.SendRequest("test.echo", params).Get();
        linkMicros.push_back(duration<double, std::micro>(steady_clock::now() - start).count());

        // A bare client builds its payload for each call too.
        start = steady_clock::now();
        DBusMap envelope = ToDBus(utils::BuildRequest("test.echo", params));
        DBusMap reply;
        proxy->callMethod("SendMessage")
            .onInterface("corvana.partnerApi.AppService")
            .withArguments(envelope)
            .storeResultsTo(reply);
        bareMicros.push_back(duration<double, std::micro>(steady_clock::now() - start).count());
    }
    for (int i = 0; i < 2000; ++i) {
        pushed.Reset();
        connection.SendRequest("test.push_timed", {}).Get();
        pushed.Wait(seconds(5));
    }

    auto link = Summarise(linkMicros);
    auto plain = Summarise(bareMicros);
    std::vector<double> pushes;
    {
        std::lock_guard lock(mutex);
        pushes = pushMicros;
    }
    auto push = Summarise(pushes);
    std::printf("requests: %d (playback-state-sized envelope)\n", requests);
    std::printf("SendRequest round trip   p50 %8.1f us   p99 %8.1f us\n", link.p50, link.p99);
    std::printf("bare sdbus-c++ call      p50 %8.1f us   p99 %8.1f us\n", plain.p50, plain.p99);
    std::printf("ratio                    p50 %8.2f      p99 %8.2f\n", link.p50 / plain.p50,
                link.p99 / plain.p99);
    std::printf("push to handler (%zu)   p50 %8.1f us   p99 %8.1f us\n", pushes.size(), push.p50, push.p99);
    return 0;
}
