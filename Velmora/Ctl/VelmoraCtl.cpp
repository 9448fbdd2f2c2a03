// velmora-ctl: the widget's core on the command line. It connects to the desktop app as the native front
// end does, waits for the handshake and the login notification, runs one command and exits.
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Threading/ThreadDispatcher.h"
#include "Velmora/Ctl/RecordJson.h"
#include "VelmoraUtils/CorvanaClient.h"
#include "VelmoraUtils/CorvanaEndpoints.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "VelmoraUtils/Logger.h"
#include "VelmoraUtils/TokenManager.h"

namespace {

using namespace std::chrono;
using utils::DesktopAPIController;
using utils::PlaybackAction;

constexpr int kExitOk = 0;
constexpr int kExitNoAnswer = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: velmora-ctl [--timeout SECONDS] [--log-dir DIR] COMMAND\n"
    "commands:\n"
    "  status                 print the playback state as JSON\n"
    "  devices                print the device list as JSON\n"
    "  watch [--count N]      print each event as one JSON line (N events, or until interrupted)\n"
    "  play CONTEXT_URI | pause | resume | next | previous\n"
    "  seek MS [--relative]   move the position (milliseconds; negative with --relative goes back)\n"
    "  shuffle on|off | repeat off|context|track | volume FRACTION (0 to 1)\n"
    "  like URI | unlike URI  add to or remove from the library\n"
    "  transfer DEVICE_ID     move playback to another device\n"
    "  login                  sign in to the web API; prints {\"signedIn\":true} or false\n"
    "  home                   sign in, then print the home feed's sections as JSON\n"
    "exit status: 0 done, 1 the desktop app or the web API did not answer in time or refused, 2 usage "
    "error\n";

[[noreturn]] void Exit(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    // Skips tearing the link down: a retry loop would hold the exit for up to one retry period.
    std::_Exit(code);
}

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "velmora-ctl: %s\n%s", message.c_str(), kUsage);
    Exit(kExitUsage);
}

[[noreturn]] void NoAnswer(const std::string& message) {
    std::fprintf(stderr, "velmora-ctl: %s\n", message.c_str());
    Exit(kExitNoAnswer);
}

std::optional<int32_t> ParseInt32(const std::string& text) {
    int32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<double> ParseDouble(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

struct Options {
    double timeoutSeconds = 10;
    std::optional<std::string> logDir;
    std::string command;
    std::vector<std::string> args;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            Exit(kExitOk);
        } else if (arg == "--timeout") {
            if (i + 1 >= argc) UsageError("--timeout needs a number of seconds");
            auto value = ParseDouble(argv[++i]);
            if (!value || *value <= 0) UsageError("--timeout needs a positive number of seconds");
            options.timeoutSeconds = *value;
        } else if (arg == "--log-dir") {
            if (i + 1 >= argc) UsageError("--log-dir needs a folder");
            options.logDir = argv[++i];
        } else if (arg.starts_with("--")) {
            UsageError("unknown option " + arg);
        } else {
            break;
        }
    }
    if (i >= argc) UsageError("no command given");
    options.command = argv[i++];
    for (; i < argc; ++i) options.args.push_back(argv[i]);
    return options;
}

// What the controller has told us so far, shared with its event handlers (background threads).
class Observations {
public:
    void Record(const char* event, nlohmann::json data) {
        std::lock_guard lock(mutex_);
        events_.push_back(nlohmann::json{{"event", event}, {"data", std::move(data)}});
        changed_.notify_all();
    }
    void SetLogin(bool loggedIn) {
        std::lock_guard lock(mutex_);
        loginSeen_ = true;
        loggedIn_ = loggedIn;
        changed_.notify_all();
    }
    void SetPlayback(nlohmann::json state) {
        std::lock_guard lock(mutex_);
        playback_ = std::move(state);
        changed_.notify_all();
    }
    void SetDevices(nlohmann::json devices) {
        std::lock_guard lock(mutex_);
        devices_ = std::move(devices);
        changed_.notify_all();
    }

    bool WaitForLogin(steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, deadline, [&] { return loginSeen_; });
    }
    std::optional<nlohmann::json> NextEvent(std::optional<steady_clock::time_point> deadline) {
        std::unique_lock lock(mutex_);
        auto ready = [&] { return !events_.empty(); };
        if (deadline) {
            if (!changed_.wait_until(lock, *deadline, ready)) return std::nullopt;
        } else {
            changed_.wait(lock, ready);
        }
        auto event = std::move(events_.front());
        events_.pop_front();
        return event;
    }
    std::optional<nlohmann::json> Playback() {
        std::lock_guard lock(mutex_);
        return playback_;
    }
    std::optional<nlohmann::json> Devices() {
        std::lock_guard lock(mutex_);
        return devices_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool loginSeen_ = false;
    bool loggedIn_ = false;
    std::optional<nlohmann::json> playback_;
    std::optional<nlohmann::json> devices_;
    std::deque<nlohmann::json> events_;
};

void Attach(DesktopAPIController& controller, Observations& seen) {
    controller.LoginStateChanged.Add([&seen](const auto& state) {
        seen.SetLogin(state.logged_in);
        seen.Record("LoginStateChanged", velmora::ToJson(state));
    });
    controller.ConnectionStateChanged.Add(
        [&seen](const auto& state) { seen.Record("ConnectionStateChanged", velmora::ToJson(state)); });
    controller.PlaybackStateChanged.Add([&seen](const auto& state) {
        seen.SetPlayback(velmora::ToJson(state));
        seen.Record("PlaybackStateChanged", velmora::ToJson(state));
    });
    controller.ActiveDeviceChanged.Add(
        [&seen](const auto& device) { seen.Record("ActiveDeviceChanged", velmora::ToJson(device)); });
    controller.DevicesChanged.Add([&seen](const auto& cluster) {
        seen.SetDevices(velmora::ToJson(cluster));
        seen.Record("DevicesChanged", velmora::ToJson(cluster));
    });
}

void Expect(const Options& options, size_t count, const char* shape) {
    if (options.args.size() != count) UsageError(options.command + " takes " + shape);
}

// Checks the arguments and returns the work to run once connected; nothing is sent for bad arguments.
std::function<platform::Task<bool>(DesktopAPIController&)> PlanCommand(const Options& o) {
    const std::string& c = o.command;
    if (c == "status") {
        Expect(o, 0, "no arguments");
        return [](DesktopAPIController& d) { return d.RequestPlaybackStateAsync(); };
    }
    if (c == "devices") {
        Expect(o, 0, "no arguments");
        return [](DesktopAPIController& d) { return d.RequestDevicesAsync(); };
    }
    if (c == "play") {
        Expect(o, 1, "one context URI");
        return [uri = o.args[0]](DesktopAPIController& d) {
            return d.ModifyPlaybackStateAsync(PlaybackAction::Play, uri);
        };
    }
    for (auto [name, action] :
         {std::pair{"pause", PlaybackAction::Pause}, std::pair{"resume", PlaybackAction::Resume},
          std::pair{"next", PlaybackAction::Next}, std::pair{"previous", PlaybackAction::Previous}}) {
        if (c == name) {
            Expect(o, 0, "no arguments");
            return [action = action](DesktopAPIController& d) { return d.ModifyPlaybackStateAsync(action); };
        }
    }
    if (c == "seek") {
        bool relative = o.args.size() == 2 && o.args[1] == "--relative";
        if (o.args.empty() || o.args.size() > 2 || (o.args.size() == 2 && !relative)) {
            UsageError("seek takes MS [--relative]");
        }
        auto position = ParseInt32(o.args[0]);
        if (!position) UsageError("seek needs a whole number of milliseconds, not '" + o.args[0] + "'");
        if (!relative && *position < 0) UsageError("an absolute seek position cannot be negative");
        return [p = *position, relative](DesktopAPIController& d) { return d.SeekAsync(p, relative); };
    }
    if (c == "shuffle") {
        Expect(o, 1, "on or off");
        if (o.args[0] != "on" && o.args[0] != "off") UsageError("shuffle takes on or off");
        return [on = o.args[0] == "on"](DesktopAPIController& d) { return d.SetShuffleAsync(on); };
    }
    if (c == "repeat") {
        Expect(o, 1, "off, context or track");
        if (o.args[0] != "off" && o.args[0] != "context" && o.args[0] != "track") {
            UsageError("repeat takes off, context or track");
        }
        return [mode = o.args[0]](DesktopAPIController& d) { return d.SetRepeatAsync(mode); };
    }
    if (c == "volume") {
        Expect(o, 1, "a fraction from 0 to 1");
        auto volume = ParseDouble(o.args[0]);
        if (!volume || *volume < 0 || *volume > 1)
            UsageError("volume takes a fraction from 0 to 1, not '" + o.args[0] + "'");
        return [v = *volume](DesktopAPIController& d) { return d.SetVolumeAsync(v); };
    }
    if (c == "like" || c == "unlike") {
        Expect(o, 1, "one URI");
        if (c == "like") return [uri = o.args[0]](DesktopAPIController& d) { return d.LikeTrackAsync(uri); };
        return [uri = o.args[0]](DesktopAPIController& d) { return d.UnlikeTrackAsync(uri); };
    }
    if (c == "transfer") {
        Expect(o, 1, "one device id");
        return [id = o.args[0]](DesktopAPIController& d) { return d.TransferPlaybackAsync(id); };
    }
    if (c == "login" || c == "home") {
        Expect(o, 0, "no arguments");
        return nullptr;
    }
    if (c == "watch") {
        if (!(o.args.empty() || (o.args.size() == 2 && o.args[0] == "--count")))
            UsageError("watch takes [--count N]");
        if (o.args.size() == 2) {
            auto count = ParseInt32(o.args[1]);
            if (!count || *count <= 0) UsageError("--count needs a positive whole number");
        }
        return nullptr;
    }
    UsageError("unknown command '" + c + "'");
}

[[noreturn]] void StopAndExit(utils::TokenManager& manager, int code, const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "velmora-ctl: %s\n", message.c_str());
    std::fflush(stderr);
    manager.Stop();
    Exit(code);
}

// Signs in as the native front end does; `home` then fetches the feed with the token. Every way out stops
// the token manager first, which lets a refresh in flight store its answer: the server has rotated the
// refresh token by then, and exiting before the answer is stored would cost the next run a new code.
[[noreturn]] void SignIn(const Options& options, const std::shared_ptr<DesktopAPIController>& controller,
                         steady_clock::time_point deadline) {
    std::mutex mutex;
    std::condition_variable reported;
    std::optional<bool> signedIn;
    auto dispatcher = platform::ThreadDispatcher::Create();
    auto manager = utils::TokenManager::Create(
        controller, dispatcher,
        [&](bool outcome) {
            std::lock_guard lock(mutex);
            signedIn = outcome;
            reported.notify_all();
        },
        "CorvanaWidgetNative");
    auto connecting = controller->ConnectAsync();
    {
        std::unique_lock lock(mutex);
        if (!reported.wait_until(lock, deadline, [&] { return signedIn.has_value(); })) {
            lock.unlock();
            StopAndExit(*manager, kExitNoAnswer, "the sign-in did not finish within the time-out");
        }
    }
    if (options.command == "login") {
        std::printf("{\"signedIn\":%s}\n", *signedIn ? "true" : "false");
        StopAndExit(*manager, *signedIn ? kExitOk : kExitNoAnswer, {});
    }
    if (!*signedIn) StopAndExit(*manager, kExitNoAnswer, "not signed in");
    auto feed = utils::corvana_client::FetchHomeFeedAsync(manager);
    if (!feed.WaitFor(std::max(deadline - steady_clock::now(), steady_clock::duration::zero()))) {
        StopAndExit(*manager, kExitNoAnswer, "the web API did not answer within the time-out");
    }
    auto result = feed.Get();
    if (result.failure)
        StopAndExit(*manager, kExitNoAnswer, "the home feed could not be fetched: " + *result.failure);
    std::printf("%s\n", velmora::Dump(velmora::ToJson(result.sections)).c_str());
    StopAndExit(*manager, kExitOk, {});
}

[[noreturn]] void Watch(const Options& options, Observations& seen) {
    std::optional<int32_t> count;
    if (options.args.size() == 2) count = ParseInt32(options.args[1]);
    for (int32_t printed = 0; !count || printed < *count; ++printed) {
        auto event = seen.NextEvent(std::nullopt);
        std::printf("%s\n", velmora::Dump(*event).c_str());
        std::fflush(stdout);
    }
    Exit(kExitOk);
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    auto command = PlanCommand(options);
    if (options.logDir) utils::Logger::Instance().Initialize(*options.logDir);
    utils::CorvanaEndpoints::ReportOverrides();

    auto deadline =
        steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(options.timeoutSeconds));
    Observations seen;
    auto controller = DesktopAPIController::Create(std::make_unique<utils::DesktopAPIConnection>(),
                                                   utils::WidgetMode::Native);
    Attach(*controller, seen);
    if (options.command == "login" || options.command == "home") SignIn(options, controller, deadline);
    auto connecting = controller->ConnectAsync();

    if (options.command == "watch") Watch(options, seen);

    if (!seen.WaitForLogin(deadline)) NoAnswer("the desktop app did not answer within the time-out");
    auto work = command(*controller);
    auto remaining = deadline - steady_clock::now();
    if (!work.WaitFor(std::max(remaining, steady_clock::duration::zero()))) {
        NoAnswer(options.command + ": the desktop app did not answer within the time-out");
    }
    if (!work.Get()) NoAnswer(options.command + " failed");

    if (options.command == "status") {
        std::printf("%s\n", velmora::Dump(*seen.Playback()).c_str());
    } else if (options.command == "devices") {
        std::printf("%s\n", velmora::Dump(*seen.Devices()).c_str());
    }
    Exit(kExitOk);
}
