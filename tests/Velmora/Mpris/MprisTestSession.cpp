#include "tests/Velmora/Mpris/MprisTestSession.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace testsupport {

MprisTestSession::MprisTestSession() = default;

std::unique_ptr<ChildProcess> MprisTestSession::StartService(const std::string& until) {
    auto service = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" 2>&1", BuildOutput("Velmora/velmora-mpris")});
    // Its lines up to serving the channel are kept: the players are read, and their faults logged, first.
    serviceLog.clear();
    for (std::string line; (line = service->WaitForLine("")) != "";) {
        serviceLog += line + "\n";
        if (line.find(until) != std::string::npos) return service;
    }
    ADD_FAILURE() << "velmora-mpris did not serve the channel:\n" << serviceLog;
    return service;
}

std::string MprisTestSession::MakeSong(const std::string& name, const std::string& title,
                                       const std::string& artist, int seconds) {
    const std::string path = dir / name;
    auto made = RunToEnd({"sox", "-n", "-r", "8000", "-c", "1", "--comment", "TITLE=" + title,
                          "--add-comment", "ARTIST=" + artist, "--add-comment", "ALBUM=Test Album", path,
                          "synth", std::to_string(seconds), "sine", "440", "vol", "0.01"});
    EXPECT_EQ(made.status, 0) << "sox could not make " << path;
    return path;
}

std::unique_ptr<ChildProcess> MprisTestSession::StartMpv(const std::vector<std::string>& files,
                                                         std::string* busSuffix) {
    std::vector<std::string> argv{
        "mpv",        "--no-video",
        "--ao=null",  "--no-terminal",
        "--idle=yes", "--log-file=" + (dir / "mpv-" + std::to_string(files.size()) + ".log")};
    argv.insert(argv.end(), files.begin(), files.end());
    // Names of the mpv processes that have gone are free again.
    std::stringstream listed(RunToEnd({"playerctl", "-l"}).output);
    std::set<std::string> present;
    for (std::string name; std::getline(listed, name);) present.insert(name);
    std::erase_if(known_, [&](const std::string& name) { return !present.count(name); });
    auto mpv = std::make_unique<ChildProcess>(argv, false);
    // The first mpv takes "mpv", a later one a name of its process: this one is the name that was not there.
    std::string found;
    WaitUntil([&] {
        std::stringstream players(RunToEnd({"playerctl", "-l"}).output);
        for (std::string name; std::getline(players, name);) {
            if (name.rfind("mpv", 0) != 0 || known_.count(name)) continue;
            if (Playerctl(name, {"status"}) != "Playing") continue;
            found = name;
            return true;
        }
        return false;
    });
    known_.insert(found);
    EXPECT_NE(found, "") << "mpv did not appear on the bus";
    if (busSuffix) *busSuffix = found;
    return mpv;
}

std::unique_ptr<ChildProcess> MprisTestSession::StartFake(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/python3", TestProgram("fake_mpris_player.py")});
    auto fake = std::make_unique<ChildProcess>(args, true, true);
    EXPECT_NE(fake->WaitForLine("READY"), "");
    return fake;
}

Run MprisTestSession::Ctl(std::vector<std::string> args) {
    return RunCtl(std::move(args));
}

nlohmann::json MprisTestSession::Status() {
    auto run = Ctl({"status"});
    if (run.status != 0) return nullptr;
    return nlohmann::json::parse(run.output, nullptr, false);
}

std::string MprisTestSession::Playerctl(const std::string& player, std::vector<std::string> args) {
    args.insert(args.begin(), {"playerctl", "--player=" + player});
    std::string out = RunToEnd(args).output;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

bool MprisTestSession::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace testsupport
