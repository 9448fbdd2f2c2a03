// corvana-sim: a stand-in for the Corvana desktop app and the Corvana web services, for the demo, the
// tests and anyone working on the widget without the real thing.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tools/common/LocalCertificateAuthority.h"
#include "tools/corvana-sim/Accounts.h"
#include "tools/corvana-sim/Catalog.h"
#include "tools/corvana-sim/DesktopService.h"
#include "tools/corvana-sim/Player.h"
#include "tools/corvana-sim/WebServer.h"

namespace {

constexpr const char* kClientId = "5e0c9a7d2b4f4e61a8d3c7b90f1e2a46";
constexpr const char* kRedirectUri = "https://www.corvana.com";

constexpr const char* kHelp =
    R"(usage: corvana-sim [--port N] [--ca-file PATH] [--expires-in SECONDS] [--user NAME] [--devices N]
                   [--name NAME] [--logged-out] [--open-delay-ms N] [--fail-open]
                   [--release-name-on-open] [--no-connected-push] [--test-methods]

Plays the Corvana desktop app on the session bus (name corvana.partnerApi) and the Corvana accounts
service and web API over HTTPS on 127.0.0.1. Prints "READY https://127.0.0.1:PORT" once both serve; the
CA certificate that clients must trust (VELMORA_CA_FILE) is written to --ca-file before that line.

  --port N            HTTPS port (default: a free one)
  --ca-file PATH      where to write the CA certificate (default: a file in a new temporary folder)
  --expires-in S      lifetime of access tokens in seconds (default 3600)
  --user NAME         the signed-in desktop user (default "gamer42")
  --devices N         offer N playback devices rather than the usual 3 (at least 3)
  --name NAME         the bus name to own (default corvana.partnerApi)
  --logged-out        the desktop user starts logged out
  --open-delay-ms N   answer each channel's Open N milliseconds late
  --fail-open         refuse every channel with a D-Bus error
  --release-name-on-open
                      give up the bus name instead of answering Open, as an app that quits while a
                      widget opens its channel (the Open never gets an answer)
  --no-connected-push do not tell a new channel that the app is connected
  --test-methods      also answer the "test." methods that steer the app through the channel itself
                      (tools/corvana-sim/TestMethods.cpp lists them)

Control commands, one per line on standard input; each answers "OK <command>" (or "ERROR ...") on
standard output:
  login [NAME]                  the desktop user logs in (as NAME), pushed to subscribed widgets
  logout                        the desktop user logs out
  disconnect                    tell every widget the desktop app disconnected, then drop its channel
  crash                         exit at once, without a word to anyone
  restart [MS]                  leave the bus and come back after MS milliseconds (default 500)
  burst COUNT                   push COUNT copies of the playback state, numbered 1 to COUNT under
                                "burst", to every subscribed widget (COUNT at most 100000)
  fail METHOD N [error|dbus]    the next N requests of METHOD fail (an error object, or a D-Bus error)
  delay METHOD N MS             the next N requests of METHOD are answered MS milliseconds late
  expire-tokens                 every access token issued so far expires now
  hold-token                    decide each token request on arrival but hold its answer back
  release-token                 send the held token answers, and stop holding
  expires-in SECONDS            the lifetime of access tokens issued from now on
  counters                      prints "COUNTERS {json}": requests by method, token requests by grant
                                type, codes issued, feed requests, open channels, login state
  quit                          exit cleanly
)";

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void Usage(const std::string& message) {
    std::fprintf(stderr, "corvana-sim: %s\n\n%s", message.c_str(), kHelp);
    std::exit(2);
}

// The options that say how the desktop app behaves on the bus; false for any other argument.
bool ReadDesktopOption(const std::string& arg, const std::function<std::string()>& value,
                       corvanasim::DesktopService::Options& options) {
    if (arg == "--name") {
        options.busName = value();
        if (options.busName.empty()) Usage("--name needs a bus name");
    } else if (arg == "--logged-out") {
        options.loggedIn = false;
    } else if (arg == "--open-delay-ms") {
        options.openDelayMs = std::stoi(value());
        if (options.openDelayMs < 0) Usage("--open-delay-ms needs a count of milliseconds");
    } else if (arg == "--fail-open") {
        options.failOpen = true;
    } else if (arg == "--release-name-on-open") {
        options.releaseNameOnOpen = true;
    } else if (arg == "--no-connected-push") {
        options.connectedPush = false;
    } else if (arg == "--test-methods") {
        options.testMethods = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    int expiresIn = 3600;
    std::string caFile;
    std::string user = "gamer42";
    int devices = 3;
    corvanasim::DesktopService::Options desktopOptions;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(arg + " needs a value");
            return argv[++i];
        };
        try {
            if (arg == "--help" || arg == "-h") {
                std::fputs(kHelp, stdout);
                return 0;
            } else if (arg == "--port") {
                port = std::stoi(value());
            } else if (arg == "--ca-file") {
                caFile = value();
            } else if (arg == "--expires-in") {
                expiresIn = std::stoi(value());
            } else if (arg == "--user") {
                user = value();
            } else if (arg == "--devices") {
                devices = std::stoi(value());
            } else if (!ReadDesktopOption(arg, value, desktopOptions)) {
                Usage("unknown argument " + arg);
            }
        } catch (const std::logic_error&) {
            Usage(arg + " needs a number");
        }
    }
    if (port < 0 || port > 65535 || expiresIn < 0 || user.empty() || devices < 3) Usage("bad argument value");

    try {
        if (caFile.empty()) {
            char pattern[] = "/tmp/corvana-sim-XXXXXX";
            if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
            caFile = std::string(pattern) + "/ca.pem";
        }
        auto certificates = simtls::IssueLocalCertificates();
        {
            std::ofstream out(caFile, std::ios::binary | std::ios::trunc);
            out << certificates.caCertificatePem;
            if (!out.flush()) throw std::runtime_error("cannot write " + caFile);
        }

        corvanasim::Accounts accounts(kClientId, kRedirectUri, expiresIn, NowMs);
        corvanasim::Player player(corvanasim::DefaultQueue(), NowMs);
        for (int extra = 4; extra <= devices; ++extra) {
            player.AddDevice({"sim-extra-" + std::to_string(extra), "Speaker " + std::to_string(extra),
                              "speaker", 50, false, false});
        }
        corvanasim::WebServer web(accounts, certificates.serverCertificatePem, certificates.serverKeyPem);
        port = web.Start(port);
        const std::string origin = "https://127.0.0.1:" + std::to_string(port);

        desktopOptions.clientId = kClientId;
        desktopOptions.user = user;
        desktopOptions.webOrigin = origin;
        corvanasim::DesktopService desktop(desktopOptions, player, accounts, web);
        return desktop.Run([&] {
            std::fprintf(stderr, "corvana-sim: serving; CA certificate in %s\n", caFile.c_str());
            std::printf("READY %s\n", origin.c_str());
            std::fflush(stdout);
        });
    } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "corvana-sim: %s (is another instance running, or no session bus?)\n",
                     error.getMessage().c_str());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvana-sim: %s\n", error.what());
        return 1;
    }
}
