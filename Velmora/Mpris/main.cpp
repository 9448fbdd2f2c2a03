// velmora-mpris: the Corvana channel for the session's media players. It follows every MPRIS player of the
// session bus and serves corvana.partnerApi for them, so that the widget and velmora-ctl work with any
// player; a desktop app that asks for the name gets it, and velmora-mpris waits until it is free again.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Platform/Threading/ThreadDispatcher.h"
#include "Velmora/Mpris/MprisDesktopService.h"
#include "VelmoraUtils/Logger.h"

namespace {

constexpr const char* kUsage =
    "usage: velmora-mpris\n"
    "Serves the Corvana channel (corvana.partnerApi on the session bus) for the session's MPRIS media\n"
    "players, until SIGTERM or SIGINT. The D-Bus service file starts it when a widget opens the channel.\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "velmora-mpris: unknown argument %s\n%s", argv[i], kUsage);
        return 2;
    }
    // Blocked before any thread starts, so that every thread inherits the mask and only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    auto dispatcher = platform::ThreadDispatcher::Create();
    // Without a bus there is nothing left to serve: the process ends as if told to.
    auto service =
        velmora::mpris::MprisDesktopService::Create(dispatcher, [] { ::kill(::getpid(), SIGTERM); });
    platform::TaskCompletionSource<bool> started;
    // The service's state lives on its dispatcher: it starts there too.
    dispatcher->RunAsync([service, started] {
        [](std::shared_ptr<velmora::mpris::MprisDesktopService> service,
           platform::TaskCompletionSource<bool> started) -> platform::FireAndForget {
            bool ok = false;
            try {
                ok = co_await service->StartAsync();
            } catch (...) {
            }
            started.TrySetResult(ok);
        }(service, started);
    });
    if (!started.GetTask().Get()) return 1;

    int signal = 0;
    sigwait(&stop, &signal);
    utils::Logger::Instance().LogInfo(std::string("MprisDesktopService: stopping (") + strsignal(signal) +
                                      ")");
    dispatcher->Shutdown();
    service.reset();
    return 0;
}
