#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "Velmora/WebView/BridgeEvents.h"

using nlohmann::json;
using namespace desktop_api_types;
using namespace velmora::bridge_events;
using utils::corvana_client::HomeItem;
using utils::corvana_client::HomeSection;

namespace {

constexpr int64_t kNow = 1'700'000'000'000;

PlaybackStateResponse Playing(int32_t position, std::optional<int32_t> duration, int64_t measuredAgoMs) {
    PlaybackStateResponse state;
    state.type = "track";
    state.timestamp = std::to_string(kNow - measuredAgoMs);
    state.position_as_of_timestamp = position;
    state.duration = duration;
    state.is_active = true;
    state.is_paused = false;
    return state;
}

PlaybackTrack Track(std::string uri) {
    return {std::move(uri), "Song \"1\"", "Artist", "Album", "https://img/1.jpg", false, true, false};
}

}  // namespace

TEST(BridgeEvents, SimpleEventsCarryTheirOneValue) {
    EXPECT_EQ(json::parse(EncodeLoginStateChanged(true)),
              json({{"type", "login_state_changed"}, {"loggedIn", true}}));
    EXPECT_EQ(json::parse(EncodeLoginStateChanged(false)),
              json({{"type", "login_state_changed"}, {"loggedIn", false}}));
    EXPECT_EQ(json::parse(EncodeExpandedState(true)),
              json({{"type", "expandedState"}, {"isExpanded", true}}));
    EXPECT_EQ(json::parse(EncodeExpandedState(false)),
              json({{"type", "expandedState"}, {"isExpanded", false}}));
    EXPECT_EQ(json::parse(EncodeActiveDevice({"abc", true})),
              json({{"type", "activeDevice"}, {"isLocal", true}}));
    EXPECT_EQ(json::parse(EncodeActiveDevice({"abc", false})),
              json({{"type", "activeDevice"}, {"isLocal", false}}));
}

TEST(BridgeEvents, DeviceListCarriesEveryDeviceInOrder) {
    ConnectClusterResponse cluster;
    cluster.active_device_id = "speaker";
    cluster.devices = {{"self", "This PC", "computer", 75, false, true, true, false},
                       {"speaker", "Kitchen", "speaker", 5, true, false, false, true}};
    const json expected = {{"type", "deviceList"},
                           {"activeDeviceId", "speaker"},
                           {"devices",
                            {{{"id", "self"},
                              {"name", "This PC"},
                              {"deviceType", "computer"},
                              {"isActive", false},
                              {"isLocal", true},
                              {"isSelf", true},
                              {"volume", 0.75},
                              {"supportsVolume", true}},
                             {{"id", "speaker"},
                              {"name", "Kitchen"},
                              {"deviceType", "speaker"},
                              {"isActive", true},
                              {"isLocal", false},
                              {"isSelf", false},
                              {"volume", 0.05},
                              {"supportsVolume", false}}}}};
    EXPECT_EQ(json::parse(EncodeDeviceList(cluster)), expected);

    cluster.active_device_id.clear();
    cluster.devices.clear();
    EXPECT_EQ(json::parse(EncodeDeviceList(cluster)),
              json({{"type", "deviceList"}, {"activeDeviceId", nullptr}, {"devices", json::array()}}));
}

TEST(BridgeEvents, PlaybackStateCarriesTheRecord) {
    PlaybackStateResponse state = Playing(10000, 200000, 0);
    state.is_paused = true;
    state.playback_speed = 1.5;
    state.track = Track("corvana:track:1");
    state.shuffle = true;
    state.repeat_track = true;
    state.volume_percentage = 42.5;
    const json expected = {{"type", "playbackState"},
                           {"isActive", true},
                           {"isPaused", true},
                           {"position", 10000},
                           {"duration", 200000},
                           {"playbackSpeed", 1.5},
                           {"track",
                            {{"uri", "corvana:track:1"},
                             {"name", "Song \"1\""},
                             {"artist", "Artist"},
                             {"album", "Album"},
                             {"image", "https://img/1.jpg"},
                             {"isInLibrary", true},
                             {"canAddToLibrary", false}}},
                           {"restrictions",
                            {{"disallowPausing", false},
                             {"disallowResuming", false},
                             {"disallowSeeking", false},
                             {"disallowSkippingPrev", false},
                             {"disallowSkippingNext", false},
                             {"disallowTogglingShuffle", false},
                             {"disallowTogglingRepeatContext", false},
                             {"disallowTogglingRepeatTrack", false}}},
                           {"options", {{"shuffling", true}, {"repeating", false}, {"repeatingTrack", true}}},
                           {"volume", 42.5},
                           {"isEpisodeContent", false}};
    EXPECT_EQ(json::parse(EncodePlaybackState(state, kNow)), expected);
}

TEST(BridgeEvents, PlaybackStateMembersArePresentOnlyWithTheirData) {
    struct Case {
        std::string name;
        std::optional<int32_t> position;
        std::optional<int32_t> duration;
        bool track;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        {"position and duration", 5, 10, false, {"position", "duration", "playbackSpeed"}, {"track"}},
        {"no duration", 5, std::nullopt, false, {}, {"position", "duration", "playbackSpeed", "track"}},
        {"no position", std::nullopt, 10, false, {}, {"position", "duration", "playbackSpeed", "track"}},
        {"a track", std::nullopt, std::nullopt, true, {"track"}, {"position"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlaybackStateResponse state;
        state.position_as_of_timestamp = c.position;
        state.duration = c.duration;
        if (c.track) state.track = Track("corvana:track:2");
        const json event = json::parse(EncodePlaybackState(state, kNow));
        for (const auto& key : c.present) EXPECT_TRUE(event.contains(key)) << key;
        for (const auto& key : c.absent) EXPECT_FALSE(event.contains(key)) << key;
        for (const char* key :
             {"type", "isActive", "isPaused", "restrictions", "options", "volume", "isEpisodeContent"}) {
            EXPECT_TRUE(event.contains(key)) << key;
        }
    }
    PlaybackStateResponse noSpeed;
    noSpeed.position_as_of_timestamp = 1;
    noSpeed.duration = 2;
    EXPECT_EQ(json::parse(EncodePlaybackState(noSpeed, kNow))["playbackSpeed"], 1.0);
}

TEST(BridgeEvents, EachRestrictionLandsOnItsOwnMember) {
    struct Case {
        bool PlaybackRestrictions::*flag;
        std::string member;
    };
    const Case cases[] = {
        {&PlaybackRestrictions::disallow_pausing, "disallowPausing"},
        {&PlaybackRestrictions::disallow_resuming, "disallowResuming"},
        {&PlaybackRestrictions::disallow_seeking, "disallowSeeking"},
        {&PlaybackRestrictions::disallow_skipping_prev, "disallowSkippingPrev"},
        {&PlaybackRestrictions::disallow_skipping_next, "disallowSkippingNext"},
        {&PlaybackRestrictions::disallow_toggling_shuffle, "disallowTogglingShuffle"},
        {&PlaybackRestrictions::disallow_toggling_repeat_context, "disallowTogglingRepeatContext"},
        {&PlaybackRestrictions::disallow_toggling_repeat_track, "disallowTogglingRepeatTrack"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.member);
        PlaybackStateResponse state;
        state.restrictions.*c.flag = true;
        const json restrictions = json::parse(EncodePlaybackState(state, kNow))["restrictions"];
        ASSERT_EQ(restrictions.size(), 8u);
        for (const auto& [member, value] : restrictions.items())
            EXPECT_EQ(value, member == c.member) << member;
    }
    struct Option {
        bool PlaybackStateResponse::*flag;
        std::string member;
    };
    for (const Option& o : {Option{&PlaybackStateResponse::shuffle, "shuffling"},
                            Option{&PlaybackStateResponse::repeat_context, "repeating"},
                            Option{&PlaybackStateResponse::repeat_track, "repeatingTrack"}}) {
        SCOPED_TRACE(o.member);
        PlaybackStateResponse state;
        state.*o.flag = true;
        const json options = json::parse(EncodePlaybackState(state, kNow))["options"];
        ASSERT_EQ(options.size(), 3u);
        for (const auto& [member, value] : options.items()) EXPECT_EQ(value, member == o.member) << member;
    }
}

TEST(BridgeEvents, PositionIsEstimatedFromTheTimestamp) {
    struct Case {
        std::string name;
        PlaybackStateResponse state;
        int64_t position;
    };
    auto with = [](PlaybackStateResponse state, auto change) {
        change(state);
        return state;
    };
    const Case cases[] = {
        {"capped at the duration", Playing(10000, 11000, 2000), 11000},
        {"advanced while playing", Playing(10000, 60000, 2000), 12000},
        {"at twice the speed", with(Playing(10000, 60000, 2000), [](auto& s) { s.playback_speed = 2.0; }),
         14000},
        {"paused", with(Playing(10000, 60000, 2000), [](auto& s) { s.is_paused = true; }), 10000},
        {"inactive", with(Playing(10000, 60000, 2000), [](auto& s) { s.is_active = false; }), 10000},
        {"measured in the future", Playing(10000, 60000, -5000), 10000},
        {"timestamp not a number", with(Playing(10000, 60000, 2000), [](auto& s) { s.timestamp = "soon"; }),
         10000},
        {"timestamp empty", with(Playing(10000, 60000, 2000), [](auto& s) { s.timestamp.clear(); }), 10000},
        {"timestamp with trailing text",
         with(Playing(10000, 60000, 2000), [](auto& s) { s.timestamp += "ms"; }), 10000},
        {"timestamp beyond 64 bits",
         with(Playing(10000, 60000, 2000), [](auto& s) { s.timestamp = "99999999999999999999999"; }), 10000},
        {"speed not a number",
         with(Playing(10000, 60000, 2000),
              [](auto& s) { s.playback_speed = std::numeric_limits<double>::quiet_NaN(); }),
         10000},
        {"infinite speed is capped",
         with(Playing(10000, 60000, 2000),
              [](auto& s) { s.playback_speed = std::numeric_limits<double>::infinity(); }),
         60000},
        {"measured at the epoch", Playing(10000, 60000, kNow), 60000},
        {"measured at the earliest 64-bit time",
         with(Playing(10000, 60000, 2000), [](auto& s) { s.timestamp = "-9223372036854775808"; }), 60000},
        {"running backwards beyond any position",
         with(Playing(10000, 60000, 2000), [](auto& s) { s.playback_speed = -1e300; }), 10000},
        {"a NaN speed with a reported position beyond the duration",
         with(Playing(90000, 60000, 2000), [](auto& s) { s.playback_speed = std::nan(""); }), 60000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EstimatePosition(c.state, kNow), c.position);
        const json event = json::parse(EncodePlaybackState(c.state, kNow));
        EXPECT_EQ(event["position"], c.position);
        EXPECT_EQ(event["duration"], *c.state.duration);
    }
}

TEST(BridgeEvents, EpisodeContentIsKnownByItsUri) {
    struct Case {
        std::optional<std::string> uri;
        bool episode;
    };
    const Case cases[] = {
        {"corvana:episode:4rOoJ6Egrf8K2IrywzwOMk", true},
        {"corvana:chapter:1", true},
        {"corvana:episode:", true},
        {"corvana:episode", false},
        {"corvana:track:4rOoJ6Egrf8K2IrywzwOMk", false},
        {"Corvana:episode:1", false},
        {"x-corvana:episode:1", false},
        {"", false},
        {std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri.value_or("(no track)"));
        PlaybackStateResponse state;
        if (c.uri) state.track = Track(*c.uri);
        EXPECT_EQ(json::parse(EncodePlaybackState(state, kNow))["isEpisodeContent"], c.episode);
    }
}

TEST(BridgeEvents, HomeContentItemsCarryOnlyWhatTheyHave) {
    HomeItem bare{"Bare", "playlist",   "corvana:playlist:1", {},          {},
                  {},     std::nullopt, std::nullopt,         std::nullopt};
    HomeItem full{"Full",
                  "episode",
                  "corvana:episode:1",
                  {"https://i/1", "https://i/2"},
                  {"A", "B"},
                  {"https://a/1"},
                  std::string("Owner"),
                  std::string("Show"),
                  std::string("About")};
    const std::vector<HomeSection> sections = {{"First", {bare, full}}, {"Second", {bare}}};
    const json bareJson = {
        {"name", "Bare"}, {"type", "playlist"}, {"uri", "corvana:playlist:1"}, {"images", json::array()}};
    const json fullJson = {{"name", "Full"},
                           {"type", "episode"},
                           {"uri", "corvana:episode:1"},
                           {"images", {{{"url", "https://i/1"}}, {{"url", "https://i/2"}}}},
                           {"artists", {{{"name", "A"}}, {{"name", "B"}}}},
                           {"album", {{"images", {{{"url", "https://a/1"}}}}}},
                           {"owner", {{"display_name", "Owner"}}},
                           {"show", {{"name", "Show"}}},
                           {"description", "About"}};
    const json expected = {{"type", "homeContent"},
                           {"sections",
                            {{{"name", "First"}, {"items", {bareJson, fullJson}}},
                             {{"name", "Second"}, {"items", {bareJson}}}}}};
    EXPECT_EQ(json::parse(EncodeHomeContent(sections)), expected);

    // An empty description is still a description.
    HomeItem emptyDescription = bare;
    emptyDescription.description = "";
    EXPECT_EQ(
        json::parse(EncodeHomeContent({{"S", {emptyDescription}}}))["sections"][0]["items"][0]["description"],
        "");
}

TEST(BridgeEvents, AnyTextMakesValidJson) {
    const std::string texts[] = {
        "quote \" and backslash \\",
        "controls \x01\x1F\t\n\r and DEL \x7F",
        "</script><img src=x onerror=alert(1)>",
        "non-BMP \xF0\x9F\x8E\xB5 and BMP \xE2\x82\xAC",
        "U+2028 \xE2\x80\xA8 U+2029 \xE2\x80\xA9",
        std::string("NUL \0 inside", 12),
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text);
        PlaybackStateResponse state;
        state.track = Track(text);
        state.track->name = text;
        EXPECT_EQ(json::parse(EncodePlaybackState(state, kNow))["track"]["name"], text);
        ConnectClusterResponse cluster{text, {{text, text, text, 1, false, false, false, false}}};
        const json devices = json::parse(EncodeDeviceList(cluster));
        EXPECT_EQ(devices["activeDeviceId"], text);
        EXPECT_EQ(devices["devices"][0]["name"], text);
        HomeItem item{text, text, text, {text}, {text}, {text}, text, text, text};
        const json home = json::parse(EncodeHomeContent({{text, {item}}}));
        EXPECT_EQ(home["sections"][0]["name"], text);
        EXPECT_EQ(home["sections"][0]["items"][0]["show"]["name"], text);
    }
    // Invalid UTF-8 is replaced, never thrown on: the page still gets its event.
    for (const std::string invalid : {"\xFF", "abc\xC3", "\xED\xA0\x80", "\xC0\xAF"}) {
        PlaybackStateResponse state;
        state.track = Track(invalid);
        json event;
        ASSERT_NO_THROW(event = json::parse(EncodePlaybackState(state, kNow)));
        EXPECT_NE(event["track"]["uri"].get<std::string>().find("\xEF\xBF\xBD"), std::string::npos);
        ASSERT_NO_THROW(
            json::parse(EncodeHomeContent({{invalid, {{invalid, "", "", {invalid}, {}, {}, {}, {}, {}}}}})));
        ASSERT_NO_THROW(
            json::parse(EncodeDeviceList({invalid, {{invalid, invalid, invalid, 0, 0, 0, 0, 0}}})));
    }
}
