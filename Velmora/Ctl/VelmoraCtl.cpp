// velmora-ctl: the widget's core on the command line. It connects to the desktop app as the native front
// end does, waits for the handshake and the login notification, runs one command and exits.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "Velmora/Ctl/CtlCommandLine.h"
#include "Velmora/Ctl/RecordJson.h"
#include "VelmoraUtils/CorvanaEndpoints.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "VelmoraUtils/Logger.h"

#ifndef VELMORA_CTL_ACCOUNT_DIR_FROM_BIN
#define VELMORA_CTL_ACCOUNT_DIR_FROM_BIN "../libexec/velmora"
#endif

namespace {

using namespace std::chrono;
using namespace velmora::ctl;
using utils::DesktopAPIController;
using utils::PlaybackAction;

constexpr const char* kAccountProgram = "velmora-ctl-account";

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
    if (IsAccountCommand(c)) {
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

// The account commands run in their own program, found beside this one (the build tree) or where it is
// installed. It gets the same command line, so its output and exit status are this command's.
[[noreturn]] void RunAccountCommand(char** argv) {
    std::error_code error;
    auto folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    for (const auto& candidate :
         {folder / kAccountProgram,
          (folder / VELMORA_CTL_ACCOUNT_DIR_FROM_BIN / kAccountProgram).lexically_normal()}) {
        if (::access(candidate.c_str(), X_OK) == 0) {
            ::execv(candidate.c_str(), argv);
            NoAnswer("cannot run " + candidate.string() + ": " + std::strerror(errno));
        }
    }
    NoAnswer(std::string(kAccountProgram) + " is not installed");
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
    if (IsAccountCommand(options.command)) RunAccountCommand(argv);
    if (options.logDir) utils::Logger::Instance().Initialize(*options.logDir);
    utils::CorvanaEndpoints::ReportOverrides();

    auto deadline =
        steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(options.timeoutSeconds));
    Observations seen;
    auto controller = DesktopAPIController::Create(std::make_unique<utils::DesktopAPIConnection>(),
                                                   utils::WidgetMode::Native);
    Attach(*controller, seen);
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
