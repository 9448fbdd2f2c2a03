#include "Velmora/Mpris/MprisRecords.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace velmora::mpris {

using platform::Value;
using platform::ValueSet;

namespace {

int32_t Milliseconds(int64_t microseconds) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(microseconds / 1000, 0, std::numeric_limits<int32_t>::max()));
}

std::string Repeat(const std::optional<std::string>& loopStatus) {
    if (loopStatus == "Playlist") return "context";
    if (loopStatus == "Track") return "track";
    return "off";
}

ValueSet Restrictions(const MprisPlayer* player) {
    const platform::MprisProperties none;
    const platform::MprisProperties& p = player ? player->Properties() : none;
    // A player that gives no CanControl allows nothing; one that leaves out a property cannot set it.
    const bool control = p.canControl.value_or(false);
    auto allows = [&](const std::optional<bool>& can) { return control && can.value_or(false); };
    return ValueSet{{"disallow_pausing", Value(!allows(p.canPause))},
                    {"disallow_resuming", Value(!allows(p.canPlay))},
                    {"disallow_seeking", Value(!allows(p.canSeek))},
                    {"disallow_skipping_prev", Value(!allows(p.canGoPrevious))},
                    {"disallow_skipping_next", Value(!allows(p.canGoNext))},
                    {"disallow_toggling_repeat_context", Value(!control || !p.loopStatus)},
                    {"disallow_toggling_repeat_track", Value(!control || !p.loopStatus)},
                    {"disallow_toggling_shuffle", Value(!control || !p.shuffle)}};
}

}  // namespace

std::string MprisRecords::TrackUri(const MprisPlayer& player) {
    const auto& metadata = player.Properties().metadata;
    std::string trackId = metadata && metadata->trackId ? *metadata->trackId : "";
    return "mpris:" + player.DeviceId() + ":" + MprisPlayer::Cut(trackId, MprisPlayer::kMaxTextBytes);
}

ValueSet MprisRecords::PlaybackState(const MprisPlayer* followed, MprisPlayer::Clock::time_point now,
                                     int64_t nowEpochMs) {
    ValueSet state{{"type", Value("track")},
                   {"timestamp", Value(std::to_string(nowEpochMs))},
                   {"is_active", Value(followed && !followed->IsStopped())},
                   {"is_paused", Value(!followed || !followed->IsPlaying())},
                   {"shuffle", Value(followed && followed->Properties().shuffle.value_or(false))},
                   {"repeat", Value(Repeat(followed ? followed->Properties().loopStatus : std::nullopt))},
                   {"restrictions", Value(Restrictions(followed))}};
    if (!followed) return state;
    const platform::MprisProperties& p = followed->Properties();
    if (followed->HasTrack()) {
        state.Insert("track", Value(ValueSet{{"uri", Value(TrackUri(*followed))},
                                             {"name", Value(followed->Title())},
                                             {"artist", Value(followed->Artist())},
                                             {"album", Value(followed->Album())},
                                             {"image", Value(followed->Image())},
                                             {"is_advertisement", Value(false)},
                                             {"is_in_collection", Value(false)},
                                             {"can_add_to_collection", Value(false)}}));
    }
    if (auto rate = followed->Rate()) state.Insert("playback_speed", Value(*rate));
    state.Insert("position_as_of_timestamp", Value(Milliseconds(followed->PositionUsAt(now))));
    if (auto length = followed->LengthUs()) state.Insert("duration", Value(Milliseconds(*length)));
    if (p.volume && std::isfinite(*p.volume)) {
        state.Insert("volume_percentage", Value(std::clamp(*p.volume, 0.0, 1.0)));
    }
    return state;
}

ValueSet MprisRecords::Cluster(const std::vector<const MprisPlayer*>& players,
                               const std::optional<std::string>& followedId) {
    ValueSet devices{{"_count", Value(static_cast<int32_t>(players.size()))}};
    std::map<std::string, int> seen;
    int32_t index = 0;
    for (const MprisPlayer* player : players) {
        std::string name = player->Name();
        if (int count = ++seen[name]; count > 1) name += " (" + std::to_string(count) + ")";
        const auto& volume = player->Properties().volume;
        const bool hasVolume =
            volume && std::isfinite(*volume) && player->Properties().canControl.value_or(false);
        devices.Insert(
            std::to_string(index++),
            Value(ValueSet{{"device_id", Value(player->DeviceId())},
                           {"name", Value(name)},
                           {"device_type", Value("Computer")},
                           {"volume", Value(hasVolume ? static_cast<int32_t>(
                                                            std::lround(std::clamp(*volume, 0.0, 1.0) * 100))
                                                      : int32_t{0})},
                           {"is_active", Value(followedId == player->DeviceId())},
                           {"is_local", Value(true)},
                           {"is_self", Value(false)},
                           {"capabilities", Value(ValueSet{{"disable_volume", Value(!hasVolume)}})}}));
    }
    return ValueSet{{"active_device_id", Value(followedId.value_or(""))}, {"devices", Value(devices)}};
}

ValueSet MprisRecords::ActiveDevice(const std::optional<std::string>& followedId) {
    return ValueSet{{"active_device_id", Value(followedId.value_or(""))}, {"is_local", Value(true)}};
}

ValueSet MprisRecords::LoginState(bool anyPlayer) {
    if (!anyPlayer) return ValueSet{{"logged_in", Value(false)}};
    return ValueSet{{"logged_in", Value(true)}, {"web_account", Value(false)}};
}

}  // namespace velmora::mpris
