// MprisClient against the fake player (tests/peers/fake_mpris_player.py) on the test's private bus, with a
// dispatcher the test pumps, so that it decides when the handlers run.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "Platform/Media/MprisClient.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "tests/support/ChildProcess.h"

using platform::ManualDispatcher;
using platform::MprisClient;
using platform::MprisProperties;
using testsupport::ChildProcess;

namespace {

std::unique_ptr<ChildProcess> StartFake(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/python3", testsupport::TestProgram("fake_mpris_player.py")});
    auto fake = std::make_unique<ChildProcess>(args, true, true);
    EXPECT_NE(fake->WaitForLine("READY"), "");
    return fake;
}

// Waits, without pumping, until the bus side has queued `count` deliveries.
bool Queued(const ManualDispatcher& dispatcher, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (dispatcher.PendingCount() < count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// What the handlers heard, one text per call.
struct Heard {
    MprisClient::Handlers Handlers() {
        MprisClient::Handlers handlers;
        handlers.appeared = [this](const std::string&, const MprisProperties& p) {
            events.push_back("appeared " + p.playbackStatus.value_or("?"));
        };
        handlers.changed = [this](const std::string&, const MprisProperties& change) {
            if (change.playbackStatus) events.push_back("changed " + *change.playbackStatus);
            if (change.volume) events.push_back("volume " + std::to_string(*change.volume).substr(0, 3));
        };
        handlers.vanished = [this](const std::string&) { events.push_back("vanished"); };
        handlers.failed = [this](const std::string&, const std::string&) { events.push_back("failed"); };
        return handlers;
    }
    bool Has(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    std::vector<std::string> events;
};

}  // namespace

TEST(MprisClient, AChangeOfAPlayerThatCameBackIsDeliveredAfterItsReturn) {
    auto dispatcher = ManualDispatcher::Create();
    Heard heard;
    MprisClient client(dispatcher, heard.Handlers());
    ASSERT_TRUE(client.StartAsync().Get());
    auto first = StartFake({"--name", "back"});
    ASSERT_TRUE(dispatcher->RunUntil([&] { return heard.Has("appeared Playing"); }));
    heard.events.clear();

    // The dispatcher lags: a change of the first player waits for it while the player leaves, a new one of
    // the same name comes, and that one changes too.
    first->WriteLine("set Volume 0.3");
    ASSERT_TRUE(Queued(*dispatcher, 1));
    first->WriteLine("quit");
    ASSERT_TRUE(Queued(*dispatcher, 2));
    auto second = StartFake({"--name", "back", "--status", "Paused"});
    ASSERT_TRUE(Queued(*dispatcher, 3));
    second->WriteLine("set PlaybackStatus \"Playing\"");
    ASSERT_TRUE(Queued(*dispatcher, 4));

    dispatcher->RunPending();
    EXPECT_EQ(heard.events, (std::vector<std::string>{"vanished", "appeared Paused", "changed Playing"}));
}

TEST(MprisClient, APlayerThatDidNotAnswerInTimeIsReadAgainOnItsNextChange) {
    auto dispatcher = ManualDispatcher::Create();
    Heard heard;
    MprisClient client(dispatcher, heard.Handlers());
    ASSERT_TRUE(client.StartAsync().Get());
    auto fake = StartFake({"--name", "late", "--unanswered-reads", "1"});
    ASSERT_TRUE(dispatcher->RunUntil([&] { return heard.Has("failed"); }));
    fake->WriteLine("set Volume 0.3");
    EXPECT_TRUE(dispatcher->RunUntil([&] { return heard.Has("appeared Playing"); }));
}

TEST(MprisClient, AFloodOfInvalidationsCostsOneReadingAtATime) {
    auto dispatcher = ManualDispatcher::Create();
    Heard heard;
    MprisClient client(dispatcher, heard.Handlers());
    ASSERT_TRUE(client.StartAsync().Get());
    auto fake = StartFake({"--name", "invalidating"});
    ASSERT_TRUE(dispatcher->RunUntil([&] { return heard.Has("appeared Playing"); }));
    int metadataReads = 0, unknownReads = 0;
    // The player's lines up to the one that starts with `prefix`, with the readings it was asked for.
    auto until = [&](const std::string& prefix) {
        for (std::string line; (line = fake->WaitForLine("")) != "";) {
            metadataReads += line == "GET Metadata";
            unknownReads += line == "GET Unknown";
            if (line.rfind(prefix, 0) == 0) return true;
        }
        return false;
    };
    for (const std::string command : {"hang-on GET", "invalidate 1000 Metadata", "invalidate 1000 Unknown"}) {
        fake->WriteLine(command);
        ASSERT_TRUE(until("OK " + command.substr(0, command.find(' '))));
    }
    fake->WriteLine("set Volume 0.3");
    ASSERT_TRUE(dispatcher->RunUntil([&] { return heard.Has("volume 0.3"); }));  // all handled before it

    // The test bus allows a connection 128 pending replies: one call per invalidation would use them up,
    // and the command would fail. The readings left before the command did: the player has them all
    // when the command comes.
    auto paused = client.CallAsync("org.mpris.MediaPlayer2.invalidating",
                                   platform::MprisCommand::Of(platform::MprisCommand::Kind::Pause));
    EXPECT_TRUE(until("CALL Pause"));
    EXPECT_EQ(paused.Get(), std::nullopt);
    EXPECT_GE(metadataReads, 1);
    EXPECT_LE(metadataReads, 3);  // one per read time-out the flood lasted, and one after
    EXPECT_EQ(unknownReads, 0);
}
