// velmora-mpris against real players: Debian's mpv with its MPRIS plugin, playing files sox made, driven
// with velmora-ctl as a user would and read back with playerctl; and against the fake player for what mpv
// cannot do. Each test has the private session bus of its process.
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "VelmoraUtils/DesktopAPIConnection.h"
#include "tests/Velmora/Mpris/MprisTestSession.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestHelpers.h"

using testsupport::ChildProcess;
using testsupport::MprisTestSession;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

double Number(const std::string& text) {
    try {
        return std::stod(text);
    } catch (...) {
        return NAN;
    }
}

std::string Title(const nlohmann::json& status) {
    if (!status.is_object() || !status["track"].is_object()) return "";
    return status["track"]["name"];
}

// The velmora-ctl watcher's lines so far, as events.
std::vector<nlohmann::json> Events(const std::string& output) {
    std::vector<nlohmann::json> events;
    std::stringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        auto event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_object()) events.push_back(event);
    }
    return events;
}

// Reads the watcher's playback states until one is paused (or playing); false when none comes in time.
bool WaitForPlaybackState(ChildProcess& watch, bool paused) {
    const std::string wanted = paused ? "\"is_paused\":true" : "\"is_paused\":false";
    for (std::string line; !(line = watch.WaitForLine("{\"data\":{\"context\"")).empty();) {
        if (Contains(line, wanted)) return true;
    }
    return false;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

TEST(MprisWithMpv, StatusShowsWhatMpvPlaysAndEveryCommandChangesIt) {
    MprisTestSession s;
    std::string mpv;
    auto player = s.StartMpv({s.MakeSong("a.ogg", "First Song", "Alpha Artist"),
                              s.MakeSong("b.ogg", "Second Song", "Beta Artist")},
                             &mpv);
    auto service = s.StartService();

    // mpv names the file until it has read the file's tags: wait for the title, then read the rest.
    ASSERT_TRUE(s.WaitUntil([&] { return Title(s.Status()) == "First Song"; }));
    auto status = s.Status();
    ASSERT_TRUE(status.is_object());
    EXPECT_EQ(Title(status), "First Song");
    EXPECT_EQ(status["track"]["artist"], "Alpha Artist");
    EXPECT_EQ(status["track"]["album"], "Test Album");
    EXPECT_EQ(status["duration"], 600000);
    EXPECT_EQ(status["is_paused"], false);

    struct Step {
        std::vector<std::string> command;
        std::function<bool()> done;  // what playerctl (or mpv's own log) reads back
    };
    std::vector<Step> steps{
        {{"pause"}, [&] { return s.Playerctl(mpv, {"status"}) == "Paused"; }},
        {{"resume"}, [&] { return s.Playerctl(mpv, {"status"}) == "Playing"; }},
        {{"seek", "300000"}, [&] { return std::fabs(Number(s.Playerctl(mpv, {"position"})) - 300) < 5; }},
        {{"seek", "-100000", "--relative"},
         [&] { return std::fabs(Number(s.Playerctl(mpv, {"position"})) - 200) < 5; }},
        {{"volume", "0.25"}, [&] { return std::fabs(Number(s.Playerctl(mpv, {"volume"})) - 0.25) < 0.01; }},
        {{"repeat", "track"}, [&] { return s.Playerctl(mpv, {"loop"}) == "Track"; }},
        {{"repeat", "context"}, [&] { return s.Playerctl(mpv, {"loop"}) == "Playlist"; }},
        {{"repeat", "off"}, [&] { return s.Playerctl(mpv, {"loop"}) == "None"; }},
        // mpv-mpris 0.7.1 answers Shuffle by setting a property mpv 0.35 lacks, and always reads "On": the
        // call reaching mpv is what can be seen of it (shuffle off is the fake player's case).
        {{"shuffle", "on"},
         [&] { return Contains(ReadText(s.dir / "mpv-2.log"), "Set property: playlist-shuffle=true"); }},
        {{"next"},
         [&] {
             return s.Playerctl(mpv, {"metadata", "title"}) == "Second Song";
         }},
    };
    for (const auto& step : steps) {
        auto run = s.Ctl(step.command);
        EXPECT_EQ(run.status, 0) << step.command[0];
        EXPECT_TRUE(s.WaitUntil(step.done)) << step.command[0] << " did not reach mpv";
    }
    EXPECT_TRUE(s.WaitUntil([&] { return Title(s.Status()) == "Second Song"; }));

    // What a player cannot do is refused, with nothing sent.
    for (std::vector<std::string> command : {std::vector<std::string>{"like", "mpris:mpv:/1"},
                                             {"play", "corvana:playlist:1"},
                                             {"transfer", "no-such-player"}}) {
        EXPECT_EQ(s.Ctl(command).status, 1) << command[0];
    }
    EXPECT_EQ(s.Ctl({"login"}).status, 1);  // no Corvana account behind the players
}

TEST(MprisWithMpv, APauseMadeInMpvReachesTheWatcherAsAPush) {
    MprisTestSession s;
    std::string mpv;
    auto player = s.StartMpv({s.MakeSong("a.ogg", "First Song", "Alpha Artist")}, &mpv);
    auto service = s.StartService();
    ChildProcess watch({testsupport::BuildOutput("Velmora/velmora-ctl"), "watch"});
    ASSERT_NE(watch.WaitForLine("{\"data\":{\"context\""), "");  // the state pushed on subscribing

    s.Playerctl(mpv, {"pause"});
    std::string line;
    do {
        line = watch.WaitForLine("{\"data\":{\"context\"");
    } while (!line.empty() && !Contains(line, "\"is_paused\":true"));
    EXPECT_TRUE(Contains(line, "\"is_paused\":true")) << "no pushed pause";
    EXPECT_TRUE(Contains(line, "\"PlaybackStateChanged\""));
}

TEST(MprisWithMpv, TheLatestPlayerIsFollowedAndTheOthersStayChoosable) {
    MprisTestSession s;
    std::string first, second;
    const std::string songA = s.MakeSong("a.ogg", "First Song", "Alpha Artist");
    const std::string songB = s.MakeSong("b.ogg", "Second Song", "Beta Artist");
    auto mpv1 = s.StartMpv({songA}, &first);
    auto service = s.StartService();
    EXPECT_TRUE(s.WaitUntil([&] { return Title(s.Status()) == "First Song"; }));

    // A second mpv that starts playing is followed and listed.
    auto mpv2 = s.StartMpv({songB}, &second);
    ASSERT_NE(first, second);
    EXPECT_TRUE(s.WaitUntil([&] { return Title(s.Status()) == "Second Song"; }));
    auto devices = nlohmann::json::parse(s.Ctl({"devices"}).output);
    ASSERT_EQ(devices["devices"].size(), 2u);
    EXPECT_EQ(devices["active_device_id"], second);
    EXPECT_EQ(devices["devices"][1]["name"], "mpv (2)");

    // Choosing the first switches back; the second goes on playing unfollowed.
    EXPECT_EQ(s.Ctl({"transfer", first}).status, 0);
    EXPECT_EQ(Title(s.Status()), "First Song");
    EXPECT_EQ(s.Ctl({"pause"}).status, 0);
    EXPECT_TRUE(s.WaitUntil([&] { return s.Playerctl(first, {"status"}) == "Paused"; }));
    EXPECT_EQ(s.Playerctl(second, {"status"}), "Playing");

    // Killing the followed one brings the other back, with one state and none empty between.
    EXPECT_EQ(s.Ctl({"transfer", second}).status, 0);
    ChildProcess watch({testsupport::BuildOutput("Velmora/velmora-ctl"), "watch"});
    ASSERT_NE(watch.WaitForLine("{\"data\":{\"context\""), "");
    mpv2->Signal(SIGKILL);
    mpv2->Wait();
    EXPECT_TRUE(s.WaitUntil([&] { return Title(s.Status()) == "First Song"; }));
    // The transfer's own push may reach the watcher after the state it got on subscribing: states of the
    // second player may come first, but the first other state must already be the first player's.
    std::string line;
    do {
        line = watch.WaitForLine("{\"data\":{\"context\"");
    } while (!line.empty() && Contains(line, "Second Song") && Contains(line, "\"is_active\":true"));
    EXPECT_TRUE(Contains(line, "First Song")) << line;

    // All players gone, then a new one: followed.
    mpv1->Signal(SIGKILL);
    mpv1->Wait();
    EXPECT_TRUE(s.WaitUntil([&] { return s.Status()["is_active"] == false; }));
    auto mpv3 = s.StartMpv({songB}, nullptr);
    EXPECT_TRUE(s.WaitUntil([&] { return Title(s.Status()) == "Second Song"; }));
    auto events = Events(watch.ReadAll(std::chrono::milliseconds(200)));
    bool loggedOut = false, loggedInAgain = false;
    for (const auto& event : events) {
        if (event["event"] != "LoginStateChanged") continue;
        if (event["data"]["logged_in"] == false) loggedOut = true;
        if (loggedOut && event["data"]["logged_in"] == true && event["data"]["web_account"] == false)
            loggedInAgain = true;
    }
    EXPECT_TRUE(loggedOut && loggedInAgain);
}

TEST(MprisWithFakePlayer, WhatMpvCannotDoReachesThePlayer) {
    MprisTestSession s;
    auto fake = s.StartFake({"--name", "fake", "--prop", "Shuffle=true"});
    auto service = s.StartService();
    EXPECT_EQ(Title(s.Status()), "Fake Song");
    struct Step {
        std::vector<std::string> command;
        std::string call;  // what the player was asked
    };
    for (const Step& step :
         std::vector<Step>{{{"shuffle", "off"}, "SET Shuffle 0"},
                           {{"shuffle", "on"}, "SET Shuffle 1"},
                           {{"seek", "5000"}, "CALL SetPosition /fake/1 5000000"},
                           {{"seek", "2000", "--relative"}, "CALL Seek 2000000"},
                           {{"play", "file:///music/x.ogg"}, "CALL OpenUri file:///music/x.ogg"},
                           {{"previous"}, "CALL Previous"}}) {
        EXPECT_EQ(s.Ctl(step.command).status, 0) << step.command[0];
        EXPECT_EQ(fake->WaitForLine(step.call.substr(0, step.call.find(' '))), step.call);
    }
    // A URI scheme the player does not list is refused without a call.
    EXPECT_EQ(s.Ctl({"play", "spotify:track:1"}).status, 1);
    fake->WriteLine("set CanSeek false");
    ASSERT_EQ(fake->WaitForLine("OK"), "OK set");
    EXPECT_TRUE(s.WaitUntil([&] { return s.Status()["restrictions"]["disallow_seeking"] == true; }));
    EXPECT_EQ(s.Ctl({"seek", "1000"}).status, 1);
    fake->WriteLine("set PlaybackStatus \"Stopped\"");
    EXPECT_TRUE(s.WaitUntil([&] { return s.Status()["is_active"] == false; }));
    // Nothing was called meanwhile: the next line is the end of the script.
    fake->WriteLine("seeked 1");
    EXPECT_EQ(fake->WaitForLine("OK seeked"), "OK seeked");
}

TEST(MprisWithFakePlayer, BadPlayersAreLoggedAndTheRestKeepsWorking) {
    MprisTestSession s;
    // Odd metadata types, a 100 kB title and two players of one identity; a name that is no device id.
    auto odd = s.StartFake({"--name", "odd", "--identity", "Twin", "--metadata",
                            nlohmann::json{{"s:mpris:trackid", "not-a-path"},
                                           {"xesam:title", std::string(100 * 1024, 't')},
                                           {"s:xesam:artist", "One Artist"},
                                           {"i:mpris:length", 5000000}}
                                .dump()});
    auto twin = s.StartFake({"--name", "twin", "--identity", "Twin", "--status", "Paused"});
    auto badName = s.StartFake({"--name", std::string(130, 'x'), "--status", "Paused"});
    auto service = s.StartService();
    auto status = s.Status();
    ASSERT_TRUE(status.is_object());
    EXPECT_EQ(Title(status).size(), 1024u);
    EXPECT_EQ(status["track"]["artist"], "One Artist");
    EXPECT_EQ(status["track"]["uri"], "mpris:odd:not-a-path");
    EXPECT_EQ(status["duration"], 5000);
    auto devices = nlohmann::json::parse(s.Ctl({"devices"}).output);
    ASSERT_EQ(devices["devices"].size(), 2u);
    EXPECT_EQ(devices["devices"][0]["name"], "Twin");
    EXPECT_EQ(devices["devices"][1]["name"], "Twin (2)");
    // An absolute seek needs a track id that is an object path: refused, not sent.
    EXPECT_EQ(s.Ctl({"seek", "1000"}).status, 1);

    // A player that leaves in the middle of a call: the command fails, nothing else does.
    odd->WriteLine("quit-on Pause");
    ASSERT_EQ(odd->WaitForLine("OK"), "OK quit-on");
    EXPECT_EQ(s.Ctl({"pause"}).status, 1);
    EXPECT_TRUE(s.WaitUntil([&] { return s.Status()["track"]["name"] == "Fake Song"; }));  // the twin follows
    EXPECT_EQ(s.Ctl({"resume"}).status, 0);
    EXPECT_EQ(twin->WaitForLine("CALL Play"), "CALL Play");

    // A player that never answers holds up nobody but its own command.
    twin->WriteLine("hang-on Next");
    ASSERT_EQ(twin->WaitForLine("OK"), "OK hang-on");
    ChildProcess next({testsupport::BuildOutput("Velmora/velmora-ctl"), "next"});
    EXPECT_EQ(twin->WaitForLine("CALL Next"), "CALL Next");
    EXPECT_EQ(s.Ctl({"devices"}).status, 0);
    EXPECT_EQ(next.Wait(std::chrono::milliseconds(0)), -1) << "the answer came before the time-out";
    EXPECT_EQ(next.Wait(std::chrono::seconds(10)), 1);  // velmora-mpris's time-out, not velmora-ctl's

    service->Signal(SIGTERM);
    const std::string log = s.serviceLog + service->ReadAll();
    EXPECT_EQ(service->Wait(), 0);
    EXPECT_TRUE(Contains(log, "title of 102400 bytes is cut to 1024")) << log;
    EXPECT_TRUE(Contains(log, "is left out: its name is no device id"));
    EXPECT_TRUE(Contains(log, "playback_next on org.mpris.MediaPlayer2.twin failed"));
}

TEST(MprisWithFakePlayer, AWatcherThatJoinsWhileAPushWaitsHearsTheStateThatFollows) {
    MprisTestSession s;
    auto fake = s.StartFake({"--name", "fake", "--status", "Paused"});
    auto service = s.StartService();
    const std::string ctl = testsupport::BuildOutput("Velmora/velmora-ctl");
    ChildProcess first({ctl, "watch"});
    ASSERT_TRUE(WaitForPlaybackState(first, true));
    // Playing, then paused, each pushed to everyone once the player said where it is.
    fake->WriteLine("set PlaybackStatus \"Playing\"");
    ASSERT_TRUE(WaitForPlaybackState(first, false));
    fake->WriteLine("set PlaybackStatus \"Paused\"");
    ASSERT_TRUE(WaitForPlaybackState(first, true));

    // The player stops saying where it is: the push of its next change waits for that reading, and a
    // watcher that joins meanwhile is sent the state as it is.
    fake->WriteLine("hang-on GET");
    ASSERT_EQ(fake->WaitForLine("OK hang-on"), "OK hang-on");
    fake->WriteLine("set PlaybackStatus \"Playing\"");
    ASSERT_EQ(fake->WaitForLine("GET Position"), "GET Position");
    ChildProcess second({ctl, "watch"});
    ASSERT_TRUE(WaitForPlaybackState(second, false));

    // Paused again where it was, the state the first watcher last heard: the newcomer hears it too once
    // the reading gives up.
    fake->WriteLine("set PlaybackStatus \"Paused\"");
    EXPECT_TRUE(WaitForPlaybackState(second, true)) << "the newcomer kept a state that had gone";
}

TEST(MprisChannel, ATextCutToSizeStaysWholeCharactersSoTheAnswerReachesTheWidget) {
    MprisTestSession s;
    auto service = s.StartService();
    utils::DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());
    // The error names the method in 64 bytes, which end inside the last character.
    const std::string method = "unknown_" + std::string(55, 'x') + "\xc3\xa9";
    auto reply = connection.SendRequest(method, {}).Get();
    ASSERT_TRUE(reply.is_error);
    ASSERT_TRUE(reply.data.HasKey("message")) << "a transport failure, not velmora-mpris's answer";
    EXPECT_EQ(reply.data.Lookup("message").AsString(), "unknown method " + method.substr(0, 63));
}

TEST(MprisWithFakePlayer, AFloodOfChangesReachesTheWidgetCoalesced) {
    MprisTestSession s;
    auto fake = s.StartFake({"--name", "flood"});
    auto service = s.StartService();
    ChildProcess watch({testsupport::BuildOutput("Velmora/velmora-ctl"), "watch"});
    ASSERT_NE(watch.WaitForLine("{\"data\":{\"context\""), "");

    const auto started = std::chrono::steady_clock::now();
    fake->WriteLine("flood 10000");
    ASSERT_EQ(fake->WaitForLine("FLOODED", std::chrono::seconds(60)), "FLOODED");
    fake->WriteLine("metadata {\"mpris:trackid\": \"/fake/2\", \"xesam:title\": \"After The Flood\"}");
    std::string output;
    ASSERT_TRUE(s.WaitUntil(
        [&] {
            output += watch.ReadAll(std::chrono::milliseconds(50));
            return Contains(output, "After The Flood");
        },
        std::chrono::seconds(30)));
    // Until the last change was seen: velmora-mpris may still work through the flood after it was sent.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    size_t pushes = 0;
    for (const auto& event : Events(output)) pushes += event["event"] == "PlaybackStateChanged";
    // At most one push per interval of the throttle while the flood lasted, and some to show it.
    const size_t allowed = static_cast<size_t>(seconds / 0.020) + 10;
    EXPECT_LE(pushes, allowed) << pushes << " pushes for 10000 changes in " << seconds << " s";
    EXPECT_GE(pushes, 2u);
    EXPECT_EQ(s.Ctl({"status"}).status, 0);
}

TEST(MprisAndTheDesktopApp, TheDesktopAppTakesTheNameAndVelmoraMprisTakesItBackWhenFree) {
    MprisTestSession s;
    auto fake = s.StartFake({"--name", "fake"});
    auto service = s.StartService();
    EXPECT_EQ(Title(s.Status()), "Fake Song");
    ChildProcess watch({testsupport::BuildOutput("Velmora/velmora-ctl"), "watch"});
    ASSERT_NE(watch.WaitForLine("{\"data\":{\"context\""), "");
    {
        // The desktop app asks to replace the owner, which velmora-mpris allows: its channels close.
        testsupport::SimulatorProcess desktop;
        EXPECT_NE(service->WaitForLine("MprisDesktopService: corvana.partnerApi went to another owner"), "");
        EXPECT_NE(watch.WaitForLine("{\"data\":{\"connected\":false}"), "");
        auto status = s.Status();
        EXPECT_TRUE(Title(status) != "Fake Song" && Title(status) != "") << status.dump();
    }
    // Once it is gone, velmora-mpris is next in the queue.
    EXPECT_NE(service->WaitForLine("MprisDesktopService: serving corvana.partnerApi"), "");
    EXPECT_TRUE(s.WaitUntil([&] { return Title(s.Status()) == "Fake Song"; }));
}

TEST(MprisAndTheDesktopApp, VelmoraMprisNeverTakesTheNameFromTheDesktopApp) {
    MprisTestSession s;
    auto fake = s.StartFake({"--name", "fake"});
    std::unique_ptr<testsupport::SimulatorProcess> desktop =
        std::make_unique<testsupport::SimulatorProcess>();
    auto service = s.StartService("has an owner; waiting until it is free");
    auto status = s.Status();
    EXPECT_NE(Title(status), "Fake Song") << status.dump();
    desktop.reset();
    EXPECT_NE(service->WaitForLine("MprisDesktopService: serving corvana.partnerApi"), "");
    EXPECT_TRUE(s.WaitUntil([&] { return Title(s.Status()) == "Fake Song"; }));
}
