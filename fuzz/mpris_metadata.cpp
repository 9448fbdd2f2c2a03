// The MPRIS mapping of velmora-mpris (Velmora/Mpris): a player's properties and their changes, whatever a
// player sends (any texts, lengths, rates, positions, cover URLs), made into the desktop records. What
// must hold: texts are valid UTF-8 and cut to 1 kB; a cover is empty, an https:// URL or a file:// URL;
// the position is within 0 and the length; the rate is finite, above 0 and at most 100; the records
// parse as the widget parses them, with the position within the duration; nothing throws.
#include <cmath>

#include "Velmora/Mpris/MprisPlayer.h"
#include "Velmora/Mpris/MprisRecords.h"
#include "VelmoraUtils/Utf8Text.h"
#include "fuzz/FuzzSupport.h"

using platform::MprisMetadata;
using platform::MprisProperties;
using velmora::mpris::MprisPlayer;
using velmora::mpris::MprisRecords;

namespace {

const std::vector<std::string_view>& Words() {
    static const std::vector<std::string_view> words = {"Playing",
                                                        "Paused",
                                                        "Stopped",
                                                        "None",
                                                        "Track",
                                                        "Playlist",
                                                        "https://i.example/c.jpg",
                                                        "http://i.example/c.jpg",
                                                        "file:///tmp/cover.png",
                                                        "file:///etc/passwd",
                                                        "file:///nonexistent.png",
                                                        "/org/mpris/MediaPlayer2/Track/1",
                                                        "mpv",
                                                        "caf\xc3\xa9",
                                                        "\xf0\x9f\x8e\xb5",
                                                        "\xe2\x82",
                                                        "\xff",
                                                        ""};
    return words;
}

// D-Bus carries only valid UTF-8 (sd-bus refuses anything else), so a player's texts are mended first.
std::string Valid(std::string text) {
    return utils::Utf8Text::Mended(text);
}

std::optional<bool> MaybeBool(fuzz::Input& input) {
    uint8_t b = input.Byte() % 3;
    if (b == 0) return std::nullopt;
    return b == 1;
}

std::string LongText(fuzz::Input& input) {
    if (input.Byte() < 240) return Valid(input.Text(Words()));
    // Around the 1 kB cut, ending inside a character.
    std::string text(MprisPlayer::kMaxTextBytes - 2 + input.Below(4), 'a');
    text += "\xe2\x82\xac\xf0\x9f\x8e\xb5";
    return text;
}

MprisProperties Make(fuzz::Input& input) {
    MprisProperties p;
    if (input.Bool()) p.identity = Valid(input.Text(Words()));
    if (input.Bool()) p.playbackStatus = Valid(input.Text(Words()));
    if (input.Bool()) p.loopStatus = Valid(input.Text(Words()));
    if (input.Bool()) p.rate = input.Double();
    p.shuffle = MaybeBool(input);
    if (input.Bool()) {
        MprisMetadata m;
        if (input.Bool()) m.trackId = LongText(input);
        if (input.Bool()) m.title = LongText(input);
        if (input.Bool()) {
            std::vector<std::string> artists;
            for (size_t n = input.Below(4); n > 0; --n) artists.push_back(LongText(input));
            m.artists = artists;
        }
        if (input.Bool()) m.album = LongText(input);
        if (input.Bool()) m.artUrl = Valid(input.Text(Words()));
        if (input.Bool()) m.lengthUs = input.Bool() ? input.I64() : static_cast<int64_t>(input.U32()) * 1000;
        p.metadata = m;
    }
    if (input.Bool()) p.volume = input.Double();
    if (input.Bool()) p.positionUs = input.Bool() ? input.I64() : static_cast<int64_t>(input.U32()) * 100;
    p.canGoNext = MaybeBool(input);
    p.canGoPrevious = MaybeBool(input);
    p.canPlay = MaybeBool(input);
    p.canPause = MaybeBool(input);
    p.canSeek = MaybeBool(input);
    p.canControl = MaybeBool(input);
    return p;
}

void CheckText(const std::string& text, const char* what) {
    FUZZ_CHECK(fuzz::IsValidUtf8(text), std::string(what) + " is not valid UTF-8");
    FUZZ_CHECK(text.size() <= MprisPlayer::kMaxTextBytes, std::string(what) + " is longer than 1 kB");
}

void Check(const MprisPlayer& player, MprisPlayer::Clock::time_point now) {
    CheckText(player.Title(), "the title");
    CheckText(player.Artist(), "the artist");
    CheckText(player.Album(), "the album");
    const std::string& image = player.Image();
    FUZZ_CHECK(image.empty() || image.starts_with("https://") || image.starts_with("file://"),
               "cover " + image);
    FUZZ_CHECK(fuzz::IsValidUtf8(image), "the cover is not valid UTF-8");
    const int64_t position = player.PositionUsAt(now);
    FUZZ_CHECK(position >= 0, "position " + std::to_string(position));
    if (auto length = player.LengthUs()) {
        FUZZ_CHECK(*length >= 0, "length " + std::to_string(*length));
        FUZZ_CHECK(position <= *length,
                   std::to_string(position) + " beyond the length " + std::to_string(*length));
    }
    if (auto rate = player.Rate()) FUZZ_CHECK(std::isfinite(*rate) && *rate > 0 && *rate <= 100, "rate");
    const std::string uri = MprisRecords::TrackUri(player);
    FUZZ_CHECK(fuzz::IsValidUtf8(uri), "the track uri is not valid UTF-8");

    auto record = desktop_api_types::ParsePlaybackStateResponse(
        platform::Value(MprisRecords::PlaybackState(&player, now, 1700000000000)));
    FUZZ_CHECK(record.position_as_of_timestamp && *record.position_as_of_timestamp >= 0, "record position");
    if (record.duration)
        FUZZ_CHECK(*record.position_as_of_timestamp <= *record.duration,
                   "record position beyond its duration");
    FUZZ_CHECK(record.volume_percentage >= 0 && record.volume_percentage <= 1, "record volume");
    auto cluster = desktop_api_types::ParseConnectClusterResponse(
        platform::Value(MprisRecords::Cluster({&player, &player}, player.DeviceId())));
    FUZZ_CHECK(cluster.devices.size() == 2 && cluster.devices[0].name != cluster.devices[1].name, "cluster");
    for (const auto& device : cluster.devices)
        FUZZ_CHECK(device.volume >= 0 && device.volume <= 100,
                   "device volume " + std::to_string(device.volume));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietStandardError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const std::string busName =
        "org.mpris.MediaPlayer2." + Valid(input.Text({"mpv", "vlc.instance42", "a-b_c"}, 32));
    const std::string deviceId = MprisPlayer::DeviceIdFor(busName);
    FUZZ_CHECK(fuzz::IsValidUtf8(deviceId), "a device id that is not valid UTF-8");
    auto now = MprisPlayer::Clock::time_point{} + std::chrono::hours(24 * 365);
    try {
        MprisPlayer player(busName, deviceId.empty() ? "mpv" : deviceId, Make(input), now);
        Check(player, now);
        for (int steps = 0; steps < 8 && !input.Empty(); ++steps) {
            now += std::chrono::milliseconds(input.U32() % 10000000);
            switch (input.Byte() % 3) {
                case 0:
                    player.Apply(Make(input), now);
                    break;
                case 1:
                    player.Seeked(input.I64(), now);
                    break;
                default:
                    player.SamplePosition(input.I64(), now);
                    break;
            }
            Check(player, now);
            Check(player, now + std::chrono::hours(1000));
        }
    } catch (const std::exception& error) {
        fuzz::Fail("nothing escapes the MPRIS mapping", error.what());
    }
    return 0;
}
