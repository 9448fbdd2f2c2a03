#include <gtest/gtest.h>

#include "Platform/Foundation/PlatformError.h"
#include "VelmoraUtils/DesktopApiTypes.h"
#include "VelmoraUtils/IDesktopAPIConnection.h"
#include "tests/support/TestHelpers.h"

using namespace desktop_api_types;
using platform::PlatformError;
using platform::Value;
using platform::ValueSet;

namespace {

ValueSet Restrictions() {
    return testsupport::NoRestrictions();
}

ValueSet MinimalPlayback(const std::string& repeat = "off") {
    return ValueSet{{"type", Value("track")},
                    {"timestamp", Value("1733650000000")},
                    {"is_active", Value(true)},
                    {"is_paused", Value(false)},
                    {"shuffle", Value(true)},
                    {"repeat", Value(repeat)},
                    {"restrictions", Value(Restrictions())}};
}

ValueSet Device(const std::string& id) {
    return ValueSet{{"device_id", Value(id)},          {"name", Value("Kitchen")},
                    {"device_type", Value("speaker")}, {"volume", Value(int32_t{40})},
                    {"is_active", Value(false)},       {"is_local", Value(false)},
                    {"is_self", Value(false)}};
}

}  // namespace

TEST(DesktopMessages, ResponseTakesErrorBeforeResultAndDefaultsToEmpty) {
    ValueSet error{{"code", Value(int32_t{3})}};
    ValueSet result{{"username", Value("ada")}};

    auto both = utils::ReadResponse(ValueSet{{"error", Value(error)}, {"result", Value(result)}});
    EXPECT_TRUE(both.is_error);
    EXPECT_EQ(both.data, error);

    auto success = utils::ReadResponse(ValueSet{{"result", Value(result)}});
    EXPECT_FALSE(success.is_error);
    EXPECT_EQ(success.data, result);

    auto neither = utils::ReadResponse(ValueSet{{"id", Value("1")}});
    EXPECT_FALSE(neither.is_error);
    EXPECT_TRUE(neither.data.Empty());
    // Parsing a record from that empty data fails on its first required key.
    EXPECT_EQ(testsupport::ErrorCodeOf([&] { ParseAuthCodeResponse(Value(neither.data)); }),
              platform::E_BOUNDS);

    EXPECT_EQ(testsupport::ErrorCodeOf([] {
                  utils::ReadResponse(ValueSet{{"result", Value("not a set")}});
              }),
              platform::E_NOINTERFACE);
}

TEST(DesktopMessages, RequestEnvelopeAndNotificationReading) {
    auto envelope = utils::BuildRequest(
        "playback_seek", {{"position_ms", Value(int32_t{1500})}, {"is_relative", Value(false)}});
    EXPECT_EQ(envelope.Size(), 3u);
    EXPECT_EQ(envelope.Lookup("method").AsString(), "playback_seek");
    EXPECT_EQ(envelope.Lookup("id").AsString(), "1");
    EXPECT_EQ(envelope.Lookup("params").AsValueSet().Lookup("position_ms").AsInt32(), 1500);
    EXPECT_TRUE(utils::BuildRequest("me", {}).Lookup("params").AsValueSet().Empty());

    auto bare = utils::ReadNotification(ValueSet{{"method", Value("connection_state_changed")}});
    EXPECT_EQ(bare.method, "connection_state_changed");
    EXPECT_TRUE(bare.params.Empty());
    EXPECT_EQ(testsupport::ErrorCodeOf([] {
                  utils::ReadNotification(ValueSet{{"params", Value(ValueSet{})}});
              }),
              platform::E_BOUNDS);
    EXPECT_EQ(testsupport::ErrorCodeOf([] {
                  utils::ReadNotification(ValueSet{{"method", Value(true)}});
              }),
              platform::E_NOINTERFACE);
}

TEST(DesktopMessages, ErrorTextNamesTheMethodOnlyWithAMessage) {
    EXPECT_EQ(ErrorText("me", ValueSet{{"code", Value(int32_t{1})}}), "DesktopAPIController Error: ");
    EXPECT_EQ(ErrorText("me", ValueSet{{"code", Value(int32_t{1})}, {"message", Value("not logged in")}}),
              "DesktopAPIController Error: me - not logged in");
    // A transport failure has empty data: the missing code is what fails.
    EXPECT_EQ(testsupport::ErrorCodeOf([] { ErrorText("playback_next", ValueSet{}); }), platform::E_BOUNDS);
}

TEST(PlaybackStateParsing, RepeatTextSetsAtMostOneFlag) {
    struct Case {
        std::string repeat;
        bool context;
        bool track;
    };
    for (const Case& c : std::vector<Case>{{"context", true, false},
                                           {"track", false, true},
                                           {"off", false, false},
                                           {"Context", false, false},
                                           {"", false, false}}) {
        auto state = ParsePlaybackStateResponse(Value(MinimalPlayback(c.repeat)));
        EXPECT_EQ(state.repeat_context, c.context) << c.repeat;
        EXPECT_EQ(state.repeat_track, c.track) << c.repeat;
    }
}

TEST(PlaybackStateParsing, OptionalKeysAndDefaults) {
    auto minimal = ParsePlaybackStateResponse(Value(MinimalPlayback()));
    EXPECT_FALSE(minimal.track.has_value());
    EXPECT_FALSE(minimal.context.has_value());
    EXPECT_FALSE(minimal.playback_speed.has_value());
    EXPECT_FALSE(minimal.position_as_of_timestamp.has_value());
    EXPECT_FALSE(minimal.duration.has_value());
    EXPECT_EQ(minimal.volume_percentage, 0.0);
    EXPECT_EQ(minimal.timestamp, "1733650000000");
    EXPECT_TRUE(minimal.shuffle);

    ValueSet full = MinimalPlayback();
    full.Insert("track", Value(ValueSet{{"uri", Value("corvana:track:1")},
                                        {"name", Value("Song")},
                                        {"artist", Value("Artist")},
                                        {"album", Value("Album")},
                                        {"image", Value("https://i/1.jpg")},
                                        {"is_advertisement", Value(false)},
                                        {"is_in_collection", Value(true)},
                                        {"can_add_to_collection", Value(true)}}));
    full.Insert("context", Value(ValueSet{{"uri", Value("corvana:playlist:9")}}));
    full.Insert("playback_speed", Value(1.0));
    full.Insert("position_as_of_timestamp", Value(int32_t{61000}));
    full.Insert("duration", Value(int32_t{213000}));
    full.Insert("volume_percentage", Value(0.25));
    ValueSet restrictions = Restrictions();
    restrictions.Insert("disallow_toggling_shuffle", Value(true));
    full.Insert("restrictions", Value(restrictions));

    auto state = ParsePlaybackStateResponse(Value(full));
    ASSERT_TRUE(state.track.has_value());
    EXPECT_EQ(state.track->album, "Album");
    EXPECT_TRUE(state.track->is_in_collection);
    EXPECT_EQ(state.context, "corvana:playlist:9");
    EXPECT_EQ(state.position_as_of_timestamp, 61000);
    EXPECT_EQ(state.duration, 213000);
    EXPECT_EQ(state.volume_percentage, 0.25);
    EXPECT_TRUE(state.restrictions.disallow_toggling_shuffle);
    EXPECT_FALSE(state.restrictions.disallow_pausing);
}

TEST(PlaybackStateParsing, FailsWholeOnTheFirstBadKey) {
    struct Case {
        std::string name;
        std::function<void(ValueSet&)> spoil;
        int32_t code;
    };
    std::vector<Case> cases{
        {"timestamp as a number", [](ValueSet& s) { s.Insert("timestamp", Value(int32_t{5})); },
         platform::E_NOINTERFACE},
        {"no restrictions", [](ValueSet& s) { s.Remove("restrictions"); }, platform::E_BOUNDS},
        {"duration as double", [](ValueSet& s) { s.Insert("duration", Value(1.0)); },
         platform::E_NOINTERFACE},
        {"volume as int", [](ValueSet& s) { s.Insert("volume_percentage", Value(int32_t{50})); },
         platform::E_NOINTERFACE},
        {"context without uri", [](ValueSet& s) { s.Insert("context", Value(ValueSet{})); },
         platform::E_BOUNDS},
        {"track missing a flag",
         [](ValueSet& s) {
             s.Insert("track", Value(ValueSet{{"uri", Value("u")}, {"name", Value("n")}}));
         },
         platform::E_BOUNDS},
        {"restriction missing",
         [](ValueSet& s) {
             ValueSet r = Restrictions();
             r.Remove("disallow_seeking");
             s.Insert("restrictions", Value(r));
         },
         platform::E_BOUNDS},
    };
    for (const auto& c : cases) {
        ValueSet set = MinimalPlayback();
        c.spoil(set);
        EXPECT_EQ(testsupport::ErrorCodeOf([&] { ParsePlaybackStateResponse(Value(set)); }), c.code)
            << c.name;
    }
}

TEST(ConnectionStateParsing, ConnectedOnlyForTheExactText) {
    for (auto [text, expected] : std::vector<std::pair<std::string, bool>>{
             {"true", true}, {"True", false}, {"TRUE", false}, {"1", false}, {"true ", false}, {"", false}}) {
        EXPECT_EQ(ParseConnectionStateResponse(Value(ValueSet{{"connected", Value(text)}})).connected,
                  expected)
            << text;
    }
    EXPECT_EQ(testsupport::ErrorCodeOf([] {
                  ParseConnectionStateResponse(Value(ValueSet{{"connected", Value(true)}}));
              }),
              platform::E_NOINTERFACE);
}

TEST(ClusterParsing, DevicesInIndexOrderAndMissingIndexFailsTheWhole) {
    ValueSet withVolumeLock = Device("b");
    withVolumeLock.Insert("capabilities", Value(ValueSet{{"disable_volume", Value(true)}}));
    ValueSet capabilitiesWithoutFlag = Device("c");
    capabilitiesWithoutFlag.Insert("capabilities", Value(ValueSet{{"other", Value(true)}}));
    ValueSet devices{{"_count", Value(int32_t{3})},
                     {"0", Value(Device("a"))},
                     {"1", Value(withVolumeLock)},
                     {"2", Value(capabilitiesWithoutFlag)}};
    auto cluster = ParseConnectClusterResponse(
        Value(ValueSet{{"active_device_id", Value("a")}, {"devices", Value(devices)}}));
    ASSERT_EQ(cluster.devices.size(), 3u);
    EXPECT_EQ(cluster.devices[0].device_id, "a");
    EXPECT_FALSE(cluster.devices[0].disable_volume);
    EXPECT_TRUE(cluster.devices[1].disable_volume);
    EXPECT_FALSE(cluster.devices[2].disable_volume);
    EXPECT_EQ(cluster.devices[1].volume, 40);

    devices.Remove("1");
    EXPECT_EQ(testsupport::ErrorCodeOf([&] {
                  ParseConnectClusterResponse(
                      Value(ValueSet{{"active_device_id", Value("a")}, {"devices", Value(devices)}}));
              }),
              platform::E_BOUNDS);

    for (int32_t count : {0, -3}) {
        auto empty = ParseConnectClusterResponse(Value(ValueSet{
            {"active_device_id", Value("a")}, {"devices", Value(ValueSet{{"_count", Value(count)}})}}));
        EXPECT_TRUE(empty.devices.empty()) << count;
    }
    EXPECT_TRUE(
        ParseConnectClusterResponse(Value(ValueSet{{"active_device_id", Value("a")}})).devices.empty());
    EXPECT_EQ(testsupport::ErrorCodeOf([] {
                  ParseConnectClusterResponse(
                      Value(ValueSet{{"active_device_id", Value("a")}, {"devices", Value(ValueSet{})}}));
              }),
              platform::E_BOUNDS);
}

TEST(SmallRecords, ParseTheirOneOrTwoKeys) {
    EXPECT_TRUE(ParseLoginStateResponse(Value(ValueSet{{"logged_in", Value(true)}})).logged_in);
    EXPECT_EQ(ParseAuthCodeResponse(Value(ValueSet{{"auth_code", Value("abc")}})).auth_code, "abc");
    auto device = ParseConnectActiveDeviceResponse(
        Value(ValueSet{{"active_device_id", Value("d1")}, {"is_local", Value(false)}}));
    EXPECT_EQ(device.active_device_id, "d1");
    auto error = ParseErrorResponse(Value(ValueSet{{"code", Value(int32_t{7})}}));
    EXPECT_EQ(error.code, 7);
    EXPECT_FALSE(error.message.has_value());
    EXPECT_EQ(testsupport::ErrorCodeOf([] { ParseLoginStateResponse(Value("not a set")); }),
              platform::E_NOINTERFACE);
}

TEST(LoginState, WebAccountIsTrueUnlessTheDesktopSideSaysFalse) {
    struct Case {
        ValueSet set;
        bool webAccount;
        int32_t error;
    } cases[] = {
        {ValueSet{{"logged_in", Value(true)}}, true, 0},
        {ValueSet{{"logged_in", Value(true)}, {"web_account", Value(false)}}, false, 0},
        {ValueSet{{"logged_in", Value(true)}, {"web_account", Value(true)}}, true, 0},
        {ValueSet{{"logged_in", Value(true)}, {"web_account", Value("false")}}, true,
         platform::E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        bool webAccount = true;
        int32_t error =
            testsupport::ErrorCodeOf([&] { webAccount = ParseLoginStateResponse(Value(c.set)).web_account; });
        EXPECT_EQ(error, c.error);
        if (!c.error) {
            EXPECT_EQ(webAccount, c.webAccount);
        }
    }
}
