#include "Velmora/Native/ViewModels/ConvertedPlaybackState.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <string_view>

#include "Platform/Foundation/PlatformError.h"

namespace velmora {

namespace {

constexpr std::string_view kTrackPrefix = "corvana:track:";
constexpr std::string_view kEpisodePrefix = "corvana:episode:";

int64_t ParseTimestamp(const std::string& text) {
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw platform::PlatformError(platform::E_INVALIDARG, "playback timestamp is not a decimal integer");
    return value;
}

double EstimatePosition(const desktop_api_types::PlaybackStateResponse& state, int64_t nowMs) {
    if (!state.position_as_of_timestamp) return 0;
    double stored = *state.position_as_of_timestamp;
    double position = stored;
    if (state.is_active && !state.is_paused) {
        // In doubles: a timestamp far in the past or future must not overflow the subtraction.
        double elapsed =
            std::max(0.0, static_cast<double>(nowMs) - static_cast<double>(ParseTimestamp(state.timestamp)));
        double speed = state.playback_speed.value_or(1.0);
        double advanced = elapsed * speed + stored;
        // A negative or non-finite speed from the desktop app must not move the position backwards.
        if (std::isfinite(advanced) && advanced > stored) position = advanced;
    }
    if (state.duration) position = std::min(static_cast<double>(*state.duration), position);
    return position;
}

}  // namespace

int64_t ConvertedPlaybackState::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ConvertedPlaybackState ConvertedPlaybackState::From(const desktop_api_types::PlaybackStateResponse& state,
                                                    int64_t nowMs) {
    ConvertedPlaybackState converted;
    converted.IsAdvertisement = state.track && state.track->is_advertisement;
    converted.HasContext = state.context.has_value();
    const auto& r = state.restrictions;
    converted.PlayerActions = {!r.disallow_resuming,      !r.disallow_pausing,
                               !r.disallow_seeking,       !r.disallow_skipping_prev,
                               !r.disallow_skipping_next, !r.disallow_toggling_shuffle};
    if (converted.HasContext) converted.Actions = converted.PlayerActions;
    using presentation::Repeat;
    converted.PlayerRepeat = {state.repeat_track     ? Repeat::Track
                              : state.repeat_context ? Repeat::Context
                                                     : Repeat::Off,
                              !r.disallow_toggling_repeat_context, !r.disallow_toggling_repeat_track};
    converted.Volume =
        std::isfinite(state.volume_percentage) ? std::clamp(state.volume_percentage, 0.0, 1.0) : 0;

    CorvanaCurrentTrackInfo& info = converted.Track;
    info.IsShuffling = state.shuffle;
    if (!state.track) return converted;
    const auto& track = *state.track;
    info.HasTrack = true;
    info.Name = ShownText(track.name);
    info.Artist = ShownText(track.artist);
    info.Album = ShownText(track.album);
    info.ImageUrl = track.image;
    info.Uri = track.uri;
    std::string_view uri = track.uri;
    if (uri.starts_with(kTrackPrefix)) {
        info.Id = uri.substr(kTrackPrefix.size());
        info.Kind = CorvanaViewItemKind::Track;
    } else if (uri.starts_with(kEpisodePrefix)) {
        info.Id = uri.substr(kEpisodePrefix.size());
        info.Kind = CorvanaViewItemKind::Episode;
    } else {
        info.Id = track.uri;
    }
    info.IsPlaying = state.is_active && !state.is_paused;
    info.IsInLibrary = track.is_in_collection;
    info.CanAddToLibrary = track.can_add_to_collection;
    info.DurationMs = state.duration.value_or(0);
    info.PositionMs = EstimatePosition(state, nowMs);
    return converted;
}

}  // namespace velmora
