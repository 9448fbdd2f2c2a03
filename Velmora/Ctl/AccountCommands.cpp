// velmora-ctl-account: velmora-ctl's web-account commands (login, home). velmora-ctl runs it for them, so
// that its playback commands start without the HTTP, TLS and keyring libraries these need.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Threading/ThreadDispatcher.h"
#include "Velmora/Ctl/CtlCommandLine.h"
#include "Velmora/Ctl/RecordJson.h"
#include "VelmoraUtils/CorvanaClient.h"
#include "VelmoraUtils/CorvanaEndpoints.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "VelmoraUtils/Logger.h"
#include "VelmoraUtils/TokenManager.h"

namespace {

using namespace std::chrono;
using namespace velmora::ctl;
using utils::DesktopAPIController;

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

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    if (!IsAccountCommand(options.command)) UsageError("unknown command '" + options.command + "'");
    Expect(options, 0, "no arguments");
    if (options.logDir) utils::Logger::Instance().Initialize(*options.logDir);
    utils::CorvanaEndpoints::ReportOverrides();

    auto deadline =
        steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(options.timeoutSeconds));
    auto controller = DesktopAPIController::Create(std::make_unique<utils::DesktopAPIConnection>(),
                                                   utils::WidgetMode::Native);
    SignIn(options, controller, deadline);
}
