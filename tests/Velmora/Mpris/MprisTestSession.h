#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHelpers.h"

namespace testsupport {

// What the velmora-mpris tests share: velmora-mpris itself on the test's private bus, real players (mpv
// with its MPRIS plugin, playing files sox made) and fake ones (tests/peers/fake_mpris_player.py), and
// playerctl to read back what a player did.
class MprisTestSession {
public:
    MprisTestSession();

    // velmora-mpris, once it logged `until` (by default: it serves the channel); its log lines (standard error) are its output.
    std::unique_ptr<ChildProcess> StartService(const std::string& until = "MprisDesktopService: serving");
    // A tagged Ogg file of `seconds` of a quiet tone.
    std::string MakeSong(const std::string& name, const std::string& title, const std::string& artist,
                         int seconds = 600);
    // mpv playing the files, once it is on the bus as `busSuffix` ("mpv", or "mpv.instancePID" for a
    // second one: the suffix is returned).
    std::unique_ptr<ChildProcess> StartMpv(const std::vector<std::string>& files, std::string* busSuffix);
    std::unique_ptr<ChildProcess> StartFake(std::vector<std::string> args);

    static Run Ctl(std::vector<std::string> args);
    static nlohmann::json Status();
    static std::string Playerctl(const std::string& player, std::vector<std::string> args);
    // Polls (20 ms apart) until the condition holds or the time-out passes.
    static bool WaitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

    TempDir dir;
    std::string serviceLog;  // velmora-mpris's lines until it served the channel

private:
    std::set<std::string> known_;  // the mpv names of this session's players
};

}  // namespace testsupport
