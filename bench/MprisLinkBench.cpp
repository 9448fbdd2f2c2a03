// The desktop link against mpv through velmora-mpris, on one private session bus in one run:
//   - a command's round trip through the library (the controller's pause or resume, answered once mpv has
//     answered velmora-mpris) against the same call made to mpv's MPRIS by a bare sdbus-c++ proxy;
//   - a change in the player to the widget's event: from mpv's PropertiesChanged, as a bare observer of the
//     player receives it, to the controller's PlaybackStateChanged, and for comparison to the line
//     `playerctl --follow status` prints for it (which also crosses a pipe).
// Every step changes mpv's state, the two callers taking turns at pausing and resuming, and each waits for
// the event of the step before it and for velmora-mpris's push interval to pass, so that no step is held
// back by the one before.
//
//   mpris_link_bench [--steps N] 2>/dev/null     (standard error carries the link's log of each state)
#include <sdbus-c++/sdbus-c++.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Velmora/Mpris/MprisDesktopService.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono;
using Clock = steady_clock;

namespace {

constexpr const char* kMpvName = "org.mpris.MediaPlayer2.mpv";
constexpr const char* kMprisPath = "/org/mpris/MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

// The times of the step under way, written from the bus threads that see each arrival.
class Arrivals {
public:
    void Begin(bool paused) {
        std::lock_guard lock(mutex_);
        expectPaused_ = paused;
        signal_.reset();
        event_.reset();
        playerctl_.reset();
    }
    void Signal(bool paused) { Mark(paused, signal_); }
    void Event(bool paused) { Mark(paused, event_); }
    void Playerctl(bool paused) { Mark(paused, playerctl_); }

    // Waits for all three of the step; false after the time-out.
    bool Wait(Clock::duration timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return signal_ && event_ && playerctl_; });
    }
    double EventMicros() { return Micros(*event_); }
    double PlayerctlMicros() { return Micros(*playerctl_); }

private:
    void Mark(bool paused, std::optional<Clock::time_point>& slot) {
        auto now = Clock::now();
        std::lock_guard lock(mutex_);
        if (paused != expectPaused_ || slot) return;
        slot = now;
        changed_.notify_all();
    }
    double Micros(Clock::time_point at) {
        std::lock_guard lock(mutex_);
        return duration<double, std::micro>(at - *signal_).count();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool expectPaused_ = false;
    std::optional<Clock::time_point> signal_, event_, playerctl_;
};

struct Spread {
    double p50, p10, p90, p99;
};

Spread Summarise(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    auto at = [&](size_t percent) {
        return micros[std::min(micros.size() - 1, micros.size() * percent / 100)];
    };
    return {at(50), at(10), at(90), at(99)};
}

void Print(const char* what, const std::vector<double>& micros) {
    auto s = Summarise(micros);
    std::printf("%-34s p50 %8.1f us   p10 %8.1f   p90 %8.1f   p99 %8.1f  (%zu)\n", what, s.p50, s.p10, s.p90,
                s.p99, micros.size());
}

bool WaitForLine(testsupport::ChildProcess& process, const std::string& text) {
    for (std::string line; !(line = process.WaitForLine("")).empty();) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int steps = 200;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--steps") steps = std::max(2, std::atoi(argv[i + 1]));
    }

    testsupport::ChildProcess daemon(
        {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"});
    std::string address = daemon.WaitForLine("unix:");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

    testsupport::TempDir dir;
    const std::string song = dir / "song.ogg";
    if (testsupport::RunToEnd({"sox", "-n", "-r", "8000", "-c", "1", "--comment", "TITLE=Bench Song", song,
                               "synth", "600", "sine", "440", "vol", "0.01"})
            .status != 0) {
        std::fprintf(stderr, "sox could not make the song\n");
        return 1;
    }
    testsupport::ChildProcess mpv({"mpv", "--no-video", "--ao=null", "--no-terminal", "--idle=yes", song},
                                  false);
    auto bus = sdbus::createSessionBusConnection();
    auto dbus = sdbus::createProxy(*bus, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    for (bool present = false; !present; std::this_thread::sleep_for(milliseconds(50))) {
        dbus->callMethod("NameHasOwner")
            .onInterface("org.freedesktop.DBus")
            .withArguments(kMpvName)
            .storeResultsTo(present);
    }
    testsupport::ChildProcess service(
        {"/bin/sh", "-c", "exec \"$0\" 2>&1", testsupport::BuildOutput("Velmora/velmora-mpris")});
    if (!WaitForLine(service, "MprisDesktopService: serving")) {
        std::fprintf(stderr, "velmora-mpris did not serve the channel\n");
        return 1;
    }

    Arrivals arrivals;
    // The player's own signal, on a connection of its own with its own bus thread.
    auto observer = sdbus::createProxy(sdbus::createSessionBusConnection(), kMpvName, kMprisPath);
    observer->uponSignal("PropertiesChanged")
        .onInterface("org.freedesktop.DBus.Properties")
        .call([&](const std::string&, const std::map<std::string, sdbus::Variant>& changed,
                  const std::vector<std::string>&) {
            auto status = changed.find("PlaybackStatus");
            if (status != changed.end()) arrivals.Signal(status->second.get<std::string>() == "Paused");
        });
    observer->finishRegistration();

    testsupport::ChildProcess follower({"playerctl", "--player=mpv", "--follow", "status"});
    std::thread reading([&] {
        for (std::string line; !(line = follower.WaitForLine("", hours(1))).empty();) {
            if (line == "Paused" || line == "Playing") arrivals.Playerctl(line == "Paused");
        }
    });

    std::mutex loginMutex;
    std::condition_variable loggedIn;
    bool login = false;
    auto controller = utils::DesktopAPIController::Create(std::make_unique<utils::DesktopAPIConnection>(),
                                                          utils::WidgetMode::Native);
    controller->LoginStateChanged.Add([&](const auto& state) {
        std::lock_guard lock(loginMutex);
        login = state.logged_in;
        loggedIn.notify_all();
    });
    controller->PlaybackStateChanged.Add([&](const auto& state) { arrivals.Event(state.is_paused); });
    auto connecting = controller->ConnectAsync();
    {
        std::unique_lock lock(loginMutex);
        if (!loggedIn.wait_for(lock, seconds(10), [&] { return login; })) {
            std::fprintf(stderr, "the desktop link did not log in\n");
            return 1;
        }
    }
    auto player = sdbus::createProxy(*bus, kMpvName, kMprisPath);
    // The subscriptions that follow the login, and playerctl's own start, settle first.
    std::this_thread::sleep_for(milliseconds(500));

    std::vector<double> linkMicros, bareMicros, eventMicros, playerctlMicros;
    int lost = 0;
    // The first steps start the pools' threads and the players' caches, and are not counted.
    constexpr int kWarmUp = 8;
    for (int i = -kWarmUp; i < steps; ++i) {
        const bool pause = (i + kWarmUp) % 2 == 0;
        // The link pauses and the bare proxy resumes, then the other way round.
        const bool throughLink = ((i + kWarmUp) / 2) % 2 == 0 ? pause : !pause;
        const bool counted = i >= 0;
        arrivals.Begin(pause);
        auto start = Clock::now();
        if (throughLink) {
            auto action = pause ? utils::PlaybackAction::Pause : utils::PlaybackAction::Resume;
            if (!controller->ModifyPlaybackStateAsync(action).Get()) {
                std::fprintf(stderr, "the desktop link refused a command\n");
                return 1;
            }
            if (counted) linkMicros.push_back(duration<double, std::micro>(Clock::now() - start).count());
        } else {
            player->callMethod(pause ? "Pause" : "Play").onInterface(kPlayerInterface);
            if (counted) bareMicros.push_back(duration<double, std::micro>(Clock::now() - start).count());
        }
        if (!arrivals.Wait(seconds(5))) {
            lost += counted;
            continue;
        }
        if (counted) {
            eventMicros.push_back(arrivals.EventMicros());
            playerctlMicros.push_back(arrivals.PlayerctlMicros());
        }
        std::this_thread::sleep_for(2 * velmora::mpris::MprisDesktopService::kPushInterval);
    }

    std::printf("steps: %d, each a change of mpv's state; %d not seen in full within 5 s\n", steps, lost);
    Print("controller command round trip", linkMicros);
    Print("bare sdbus-c++ call to mpv", bareMicros);
    std::printf("%-34s p50 %8.2f\n", "ratio", Summarise(linkMicros).p50 / Summarise(bareMicros).p50);
    Print("PropertiesChanged -> widget event", eventMicros);
    Print("PropertiesChanged -> playerctl line", playerctlMicros);
    follower.Signal(SIGTERM);
    reading.join();
    return 0;
}
