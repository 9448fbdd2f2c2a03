// The web front end's bridge and memory, in the real web view (offscreen unless QT_QPA_PLATFORM says
// otherwise):
//  - memory: PSS of this process and of every web view process it started, with the echo page loaded;
//  - event: a playback state raised on a background thread, as the controller raises it, to the page's
//    'message' handler (encoding, the hop to the UI thread, the web channel);
//  - command: the page's postMessage("pausePlayback") to the controller call (the web channel, the hop to
//    the UI thread, the command table).
// Times are wall-clock stamps taken on both sides of the process boundary (the page's are coarsened by
// the browser to 0.1 ms), over sequential round trips so that no message waits behind another.
//
//   webview_bench [--messages N]
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QGuiApplication>
#include <QtTest/QTest>

#include <nlohmann/json.hpp>

#include "Platform/Ui/UiDispatcher.h"
#include "Platform/WebView/WebViewRuntime.h"
#include "Velmora/WebView/WebBridge.h"
#include "Velmora/WebView/WebView2Host.h"
#include "tests/support/EventLoopWait.h"
#include "tests/support/HostWindow.h"
#include "tests/support/ScriptedGameBarWidget.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using testsupport::WaitUntil;

namespace {

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Percentiles {
    double p50, p99;
};

Percentiles Summarise(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values[values.size() * 99 / 100]};
}

// Proportional set size in KiB, from the kernel's summary of the process's mappings.
long PssKiB(int pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    long value = 0;
    while (rollup >> key) {
        if (key == "Pss:" && rollup >> value) return value;
        rollup.ignore(1 << 16, '\n');
    }
    return 0;
}

std::string KindOf(int pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::string argument;
    while (std::getline(file, argument, '\0')) {
        if (argument.starts_with("--type=")) return argument.substr(7);
    }
    return "?";
}

// Every process below `root`, found through each process's parent in /proc.
std::vector<int> Descendants(int root) {
    std::multimap<int, int> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // "pid (comm) state ppid ...": the command may hold blanks and parentheses, so read after the last
        // ')'.
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        char state;
        int parent;
        if (rest >> state >> parent) children.emplace(parent, std::stoi(name));
    }
    std::vector<int> found;
    std::vector<int> pending{root};
    while (!pending.empty()) {
        const int pid = pending.back();
        pending.pop_back();
        for (auto [it, end] = children.equal_range(pid); it != end; ++it) {
            found.push_back(it->second);
            pending.push_back(it->second);
        }
    }
    return found;
}

void MeasureMemory() {
    qputenv("VELMORA_INSTALLED_LOCATION", VELMORA_ECHO_PAGE_PARENT);
    testsupport::HostWindow window;
    auto dispatcher = platform::UiDispatcher::Create();
    std::vector<std::string> received;
    {
        velmora::WebView2Host host;
        host.Initialize(window.Find("host"), dispatcher, [&](std::string m) { received.push_back(m); }).Get();
        auto has = [&](const char* text) {
            return std::find(received.begin(), received.end(), text) != received.end();
        };
        if (!WaitUntil([&] { return has("hello"); })) throw std::runtime_error("the echo page did not load");
        host.WebView()->PostWebMessageAsString("ping");
        if (!WaitUntil([&] { return has("echo:ping"); }))
            throw std::runtime_error("the echo page did not answer");
        // Let start-up allocations settle (caches, the first frames) before sampling.
        QTest::qWait(3000);

        long children = 0;
        std::printf("memory with the echo page loaded (PSS):\n");
        for (int pid : Descendants(getpid())) {
            const long pss = PssKiB(pid);
            children += pss;
            const std::string name = "web view " + std::to_string(pid) + " (" + KindOf(pid) + ")";
            std::printf("  %-28s %7.1f MiB\n", name.c_str(), pss / 1024.0);
        }
        const long self = PssKiB(getpid());
        std::printf("  %-28s %7.1f MiB\n", "host process (Qt, browser)", self / 1024.0);
        std::printf("  web view processes         %7.1f MiB   (goal < 160 MB)\n", children / 1024.0);
        std::printf("  all                        %7.1f MiB   (goal < 200 MB)\n", (children + self) / 1024.0);
    }
}

// The controller end of the bridge: stamps each "pausePlayback" as it arrives and starts the next round.
class StampingController : public velmora::IBridgeController {
public:
    std::function<void()> onPause;
    std::vector<double> arrivals;

    void ModifyPlaybackState(utils::PlaybackAction action, std::string) override {
        if (action != utils::PlaybackAction::Pause) return;
        arrivals.push_back(NowMs());
        onPause();
    }
    void Seek(int32_t, bool) override {}
    void SetRepeat(std::string) override {}
    void SetShuffle(bool) override {}
    void SetVolume(double) override {}
    void LikeTrack(std::string) override {}
    void UnlikeTrack(std::string) override {}
    void TransferPlayback(std::string) override {}
    void RequestDevices() override {}
    void RequestPlaybackState() override {}
};

// No one is signed in: the timing page never asks for the home feed.
class NoTokens : public velmora::IAccessTokenProvider {
public:
    platform::Task<std::optional<std::string>> GetAccessTokenAsync() override { co_return std::nullopt; }
    platform::Task<std::optional<std::string>> RefreshRejectedAccessTokenAsync(std::string) override {
        co_return std::nullopt;
    }
};

desktop_api_types::PlaybackStateResponse PlayingState() {
    desktop_api_types::PlaybackStateResponse state;
    state.type = "track";
    state.timestamp = std::to_string(static_cast<int64_t>(NowMs()));
    state.track = desktop_api_types::PlaybackTrack{"corvana:track:" + std::string(22, 'a'),
                                                   std::string(40, 'n'),
                                                   std::string(30, 'r'),
                                                   std::string(40, 'l'),
                                                   "https://i.example/image/" + std::string(40, 'f'),
                                                   false,
                                                   true,
                                                   true};
    state.position_as_of_timestamp = 61000;
    state.duration = 200000;
    state.playback_speed = 1.0;
    state.is_active = true;
    state.volume_percentage = 50;
    return state;
}

void MeasureLatency(int messages) {
    constexpr int kWarmUp = 50;
    const int rounds = messages + kWarmUp;
    qputenv("VELMORA_INSTALLED_LOCATION", VELMORA_TIMING_PAGE_PARENT);
    testsupport::HostWindow window;
    auto dispatcher = platform::UiDispatcher::Create();
    auto controller = std::make_shared<StampingController>();
    velmora::WebView2Host host;

    velmora::WebBridgeSeams seams;
    seams.dispatcher = dispatcher;
    seams.widget = std::make_shared<testsupport::ScriptedGameBarWidget>();
    seams.controller = controller;
    seams.accessTokens = std::make_shared<NoTokens>();
    seams.postWebMessage = [&host](const std::string& text) {
        if (host.WebView()) host.WebView()->PostWebMessageAsString(QString::fromStdString(text));
    };
    seams.savePersistedExpandedState = [](bool) {};
    // The rounds send "pausePlayback" far beyond a player's pace: a clock that moves a second per command
    // keeps the page's command budget from dropping them.
    seams.now = [at = velmora::PageTrafficLimit::Clock::time_point()]() mutable {
        return at += std::chrono::seconds(1);
    };
    auto bridge = velmora::WebBridge::Create(seams);

    nlohmann::json pageTimes;
    host.Initialize(window.Find("host"), dispatcher,
                    [&](std::string message) {
                        if (message.starts_with("bench:times:")) {
                            pageTimes = nlohmann::json::parse(message.substr(12));
                        } else {
                            bridge->HandleWebMessage(message);
                        }
                    })
        .Get();
    if (!WaitUntil([&] { return bridge->IsAppReady(); }))
        throw std::runtime_error("the timing page did not load");

    // Events are raised on a thread of their own, one round at a time.
    std::mutex mutex;
    std::condition_variable wake;
    int due = 1;
    bool stop = false;
    std::vector<double> raised;
    controller->onPause = [&] {
        std::lock_guard lock(mutex);
        ++due;
        wake.notify_one();
    };
    std::thread raiser([&] {
        const auto state = PlayingState();
        for (int i = 0; i < rounds; ++i) {
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return due > 0 || stop; });
            if (stop) return;
            --due;
            lock.unlock();
            raised.push_back(NowMs());
            bridge->PostPlaybackState(state);
        }
    });
    const bool finished =
        WaitUntil([&] { return static_cast<int>(controller->arrivals.size()) == rounds; }, 120000);
    {
        std::lock_guard lock(mutex);
        stop = true;
        wake.notify_one();
    }
    raiser.join();
    if (!finished) throw std::runtime_error("the rounds did not complete");

    host.WebView()->PostWebMessageAsString("bench:report");
    if (!WaitUntil([&] { return !pageTimes.is_null(); })) throw std::runtime_error("the page sent no times");
    const auto received = pageTimes["received"].get<std::vector<double>>();
    const auto sent = pageTimes["sent"].get<std::vector<double>>();
    std::vector<double> events, commands, roundTrips;
    for (int i = kWarmUp; i < rounds; ++i) {
        events.push_back(received[i] - raised[i]);
        commands.push_back(controller->arrivals[i] - sent[i]);
        roundTrips.push_back(controller->arrivals[i] - raised[i]);
    }
    const auto event = Summarise(events);
    const auto command = Summarise(commands);
    const auto roundTrip = Summarise(roundTrips);
    std::printf("bridge latency over %d messages each way (goal p99 < 5 ms):\n", messages);
    std::printf("  event to the page's handler     p50 %6.2f ms   p99 %6.2f ms\n", event.p50, event.p99);
    std::printf("  page command to controller call p50 %6.2f ms   p99 %6.2f ms\n", command.p50, command.p99);
    // On one clock only, as a check on the two above: both ways and the page's handler in between.
    std::printf("  event to its answer, round trip p50 %6.2f ms   p99 %6.2f ms\n", roundTrip.p50,
                roundTrip.p99);
}

}  // namespace

int main(int argc, char** argv) {
    int messages = 1000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--messages") messages = std::max(10, std::atoi(argv[i + 1]));
    }
    testsupport::TempDir home;
    qputenv("HOME", home.path().c_str());
    qputenv("XDG_DATA_HOME", (home / "data").c_str());
    qputenv("XDG_CACHE_HOME", (home / "cache").c_str());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    platform::WebViewRuntime::InitializeBeforeApplication();
    QGuiApplication application(argc, argv);
    try {
        MeasureMemory();
        MeasureLatency(messages);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "webview_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
