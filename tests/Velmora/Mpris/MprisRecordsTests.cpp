// The followed player and the desktop records made from MPRIS properties, read back with the widget's own
// parsers: what velmora-mpris sends must be what the widget reads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "Velmora/Mpris/MprisRecords.h"
#include "Velmora/Mpris/PlayerFollower.h"
#include "VelmoraUtils/DesktopApiTypes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

using platform::MprisMetadata;
using platform::MprisProperties;
using velmora::mpris::MprisPlayer;
using velmora::mpris::MprisRecords;
using velmora::mpris::PlayerFollower;

namespace {

MprisProperties Playing(std::string status = "Playing") {
    MprisProperties p;
    p.identity = "mpv";
    p.playbackStatus = std::move(status);
    p.loopStatus = "None";
    p.rate = 1.0;
    p.shuffle = false;
    p.volume = 0.5;
    p.positionUs = 10'000'000;
    p.canGoNext = p.canGoPrevious = p.canPlay = p.canPause = p.canSeek = p.canControl = true;
    MprisMetadata m;
    m.trackId = "/0";
    m.title = "First Song";
    m.artists = std::vector<std::string>{"Alpha", "Beta"};
    m.album = "Test Album";
    m.lengthUs = 30'000'000;
    p.metadata = m;
    return p;
}

desktop_api_types::PlaybackStateResponse Parsed(const MprisPlayer* player) {
    auto now = MprisPlayer::Clock::now();
    return desktop_api_types::ParsePlaybackStateResponse(
        platform::Value(MprisRecords::PlaybackState(player, now, 1000)));
}

}  // namespace

TEST(PlayerFollower, FollowsTheLatestToStartAndFallsBackToTheMostRecentPlaying) {
    struct Step {
        const char* what;
        std::function<void(PlayerFollower&)> act;
        std::optional<std::string> followed;
    };
    PlayerFollower f;
    std::vector<Step> steps{
        {"a paused player is followed when it is the only one", [](auto& f) { f.Appeared("a", false); }, "a"},
        {"a second paused one is not", [](auto& f) { f.Appeared("b", false); }, "a"},
        {"one that starts playing is", [](auto& f) { f.PlayingChanged("b", true); }, "b"},
        {"one that appears playing is", [](auto& f) { f.Appeared("c", true); }, "c"},
        {"pausing the followed one keeps it", [](auto& f) { f.PlayingChanged("c", false); }, "c"},
        {"the chosen one is followed", [](auto& f) { f.Chosen("a"); }, "a"},
        {"the followed one quits: one that plays beats a more recent paused one",
         [](auto& f) { f.Vanished("a"); }, "b"},
        {"another's quitting changes nothing", [](auto& f) { f.Vanished("c"); }, "b"},
        {"the last one quits", [](auto& f) { f.Vanished("b"); }, std::nullopt},
        {"a later one is picked up", [](auto& f) { f.Appeared("d", false); }, "d"},
        {"choosing an unknown one changes nothing", [](auto& f) { f.Chosen("zz"); }, "d"},
    };
    for (const auto& step : steps) {
        step.act(f);
        EXPECT_EQ(f.Followed(), step.followed) << step.what;
    }
}

TEST(PlayerFollower, AfterTheFollowedQuitsTheMostRecentlyStartedOfThePausedFollows) {
    PlayerFollower f;
    f.Appeared("a", true);
    f.Appeared("b", true);
    f.Appeared("c", true);
    f.PlayingChanged("a", false);
    f.PlayingChanged("b", false);
    f.PlayingChanged("c", false);
    f.Vanished("c");
    EXPECT_EQ(f.Followed(), "b");
}

TEST(MprisPlayer, DeviceIdsAreTheBusNameSuffixWhenItIsAnId) {
    struct Case {
        std::string busName, id;
    } cases[] = {{"org.mpris.MediaPlayer2.mpv", "mpv"},
                 {"org.mpris.MediaPlayer2.mpv.instance4711", "mpv.instance4711"},
                 {"org.mpris.MediaPlayer2.a-b_c", "a-b_c"},
                 {"org.mpris.MediaPlayer2.", ""},
                 {"org.mpris.MediaPlayer2._x", ""},
                 {"org.mpris.MediaPlayer2." + std::string(129, 'x'), ""},
                 {"org.example.mpv", ""}};
    for (const auto& c : cases) EXPECT_EQ(MprisPlayer::DeviceIdFor(c.busName), c.id) << c.busName;
}

TEST(MprisRecords, ThePlaybackStateSaysWhatThePlayerReports) {
    MprisPlayer player("org.mpris.MediaPlayer2.mpv", "mpv", Playing(), MprisPlayer::Clock::now());
    auto state = Parsed(&player);
    EXPECT_TRUE(state.is_active);
    EXPECT_FALSE(state.is_paused);
    ASSERT_TRUE(state.track);
    EXPECT_EQ(state.track->uri, "mpris:mpv:/0");
    EXPECT_EQ(state.track->name, "First Song");
    EXPECT_EQ(state.track->artist, "Alpha, Beta");
    EXPECT_EQ(state.track->album, "Test Album");
    EXPECT_FALSE(state.track->can_add_to_collection);
    EXPECT_EQ(state.duration, 30000);
    EXPECT_GE(*state.position_as_of_timestamp, 10000);
    EXPECT_LT(*state.position_as_of_timestamp, 11000);
    EXPECT_EQ(state.playback_speed, 1.0);
    EXPECT_EQ(state.volume_percentage, 0.5);
    EXPECT_EQ(state.timestamp, "1000");
    EXPECT_FALSE(state.restrictions.disallow_pausing || state.restrictions.disallow_seeking ||
                 state.restrictions.disallow_toggling_shuffle);

    auto none = Parsed(nullptr);
    EXPECT_FALSE(none.is_active);
    EXPECT_TRUE(none.is_paused);
    EXPECT_FALSE(none.track);
    EXPECT_TRUE(none.restrictions.disallow_resuming && none.restrictions.disallow_skipping_next);
}

TEST(MprisRecords, OddPropertiesBecomeASafeStateAndOneLogLine) {
    testsupport::TempDir dir;
    const std::string cover = dir / "cover.png", fifo = dir / "fifo";
    std::ofstream(cover) << "png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* what;
        std::function<void(MprisProperties&)> change;
        std::function<void(const desktop_api_types::PlaybackStateResponse&)> check;
        const char* logged;  // part of the one line logged, or empty for none
    };
    std::vector<Case> cases{
        {"Stopped", [](auto& p) { p.playbackStatus = "Stopped"; },
         [](const auto& s) { EXPECT_TRUE(!s.is_active && s.is_paused); }, ""},
        {"no metadata", [](auto& p) { p.metadata.reset(); }, [](const auto& s) { EXPECT_FALSE(s.track); },
         ""},
        {"a title of 100 kB", [](auto& p) { p.metadata->title = std::string(100 * 1024, 'x'); },
         [](const auto& s) { EXPECT_EQ(s.track->name.size(), MprisPlayer::kMaxTextBytes); },
         "title of 102400 bytes"},
        {"a cut inside a character", [](auto& p) { p.metadata->album = std::string(1023, 'a') + "\xc3\xa9"; },
         [](const auto& s) { EXPECT_EQ(s.track->album, std::string(1023, 'a')); }, "album of 1025 bytes"},
        {"a track id cut inside a character",
         [](auto& p) {
             std::string id = "a";
             for (int i = 0; i < 600; ++i) id += "\xc3\xa9";
             p.metadata->trackId = id;
         },
         [](const auto& s) { EXPECT_EQ(s.track->uri.size(), std::string("mpris:odd:").size() + 1023); }, ""},
        {"a length of 0", [](auto& p) { p.metadata->lengthUs = 0; },
         [](const auto& s) { EXPECT_FALSE(s.duration); }, "length is 0"},
        {"a negative length", [](auto& p) { p.metadata->lengthUs = -5; },
         [](const auto& s) { EXPECT_FALSE(s.duration); }, "length is -5"},
        {"a position past the end", [](auto& p) { p.positionUs = 90'000'000; },
         [](const auto& s) { EXPECT_EQ(s.position_as_of_timestamp, 30000); }, ""},
        {"a rate of 0", [](auto& p) { p.rate = 0.0; }, [](const auto& s) { EXPECT_FALSE(s.playback_speed); },
         "rate 0.000000 is no rate"},
        {"LoopStatus Playlist", [](auto& p) { p.loopStatus = "Playlist"; },
         [](const auto& s) { EXPECT_TRUE(s.repeat_context && !s.repeat_track); }, ""},
        {"LoopStatus Track", [](auto& p) { p.loopStatus = "Track"; },
         [](const auto& s) { EXPECT_TRUE(!s.repeat_context && s.repeat_track); }, ""},
        {"no CanSeek", [](auto& p) { p.canSeek = false; },
         [](const auto& s) {
             EXPECT_TRUE(s.restrictions.disallow_seeking && !s.restrictions.disallow_pausing);
         },
         ""},
        {"no CanControl", [](auto& p) { p.canControl.reset(); },
         [](const auto& s) {
             EXPECT_TRUE(s.restrictions.disallow_pausing && s.restrictions.disallow_toggling_shuffle);
         },
         ""},
        {"no LoopStatus", [](auto& p) { p.loopStatus.reset(); },
         [](const auto& s) { EXPECT_TRUE(s.restrictions.disallow_toggling_repeat_track); }, ""},
        {"a cover file", [&](auto& p) { p.metadata->artUrl = "file://" + cover; },
         [&](const auto& s) { EXPECT_EQ(s.track->image, "file://" + cover); }, ""},
        {"an https cover", [](auto& p) { p.metadata->artUrl = "https://example.org/a.png"; },
         [](const auto& s) { EXPECT_EQ(s.track->image, "https://example.org/a.png"); }, ""},
        {"a cover of another scheme", [](auto& p) { p.metadata->artUrl = "ftp://example.org/a.png"; },
         [](const auto& s) { EXPECT_EQ(s.track->image, ""); }, "scheme 'ftp'"},
        {"a cover that is a folder", [&](auto& p) { p.metadata->artUrl = "file://" + dir.path(); },
         [](const auto& s) { EXPECT_EQ(s.track->image, ""); }, "not a regular file"},
        {"a cover that is a FIFO", [&](auto& p) { p.metadata->artUrl = "file://" + fifo; },
         [](const auto& s) { EXPECT_EQ(s.track->image, ""); }, "not a regular file"},
        {"a cover that is a device", [](auto& p) { p.metadata->artUrl = "file:///dev/null"; },
         [](const auto& s) { EXPECT_EQ(s.track->image, ""); }, "not a regular file"},
        {"a cover on another host", [](auto& p) { p.metadata->artUrl = "file://host/a.png"; },
         [](const auto& s) { EXPECT_EQ(s.track->image, ""); }, "not a local file"},
    };
    for (const auto& c : cases) {
        testsupport::LogCapture log;
        MprisProperties properties = Playing();
        c.change(properties);
        MprisPlayer player("org.mpris.MediaPlayer2.odd", "odd", properties, MprisPlayer::Clock::now());
        c.check(Parsed(&player));
        // The same fault again costs no second line.
        player.Apply(properties, MprisPlayer::Clock::now());
        auto lines = log.Lines();
        if (*c.logged) {
            ASSERT_EQ(lines.size(), 1u) << c.what;
            EXPECT_NE(lines[0].find(c.logged), std::string::npos) << c.what << ": " << lines[0];
        } else {
            EXPECT_TRUE(lines.empty()) << c.what << ": " << (lines.empty() ? "" : lines[0]);
        }
    }
}

TEST(MprisRecords, PlayersAreDevicesAndTwoOfOneNameAreToldApart) {
    auto now = MprisPlayer::Clock::now();
    MprisPlayer a("org.mpris.MediaPlayer2.mpv", "mpv", Playing(), now);
    MprisProperties noVolume = Playing("Paused");
    noVolume.volume.reset();
    MprisPlayer b("org.mpris.MediaPlayer2.mpv.instance9", "mpv.instance9", noVolume, now);
    auto cluster = desktop_api_types::ParseConnectClusterResponse(
        platform::Value(MprisRecords::Cluster({&a, &b}, std::string("mpv.instance9"))));
    EXPECT_EQ(cluster.active_device_id, "mpv.instance9");
    ASSERT_EQ(cluster.devices.size(), 2u);
    EXPECT_EQ(cluster.devices[0].name, "mpv");
    EXPECT_EQ(cluster.devices[1].name, "mpv (2)");
    EXPECT_FALSE(cluster.devices[0].is_active);
    EXPECT_TRUE(cluster.devices[1].is_active);
    EXPECT_EQ(cluster.devices[0].volume, 50);
    EXPECT_FALSE(cluster.devices[0].disable_volume);
    EXPECT_TRUE(cluster.devices[1].disable_volume);

    auto login = desktop_api_types::ParseLoginStateResponse(platform::Value(MprisRecords::LoginState(true)));
    EXPECT_TRUE(login.logged_in && !login.web_account);
    EXPECT_FALSE(desktop_api_types::ParseLoginStateResponse(platform::Value(MprisRecords::LoginState(false)))
                     .logged_in);
}
