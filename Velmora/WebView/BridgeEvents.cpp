#include "Velmora/WebView/BridgeEvents.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace velmora::bridge_events {

using nlohmann::json;
using namespace desktop_api_types;
using utils::corvana_client::HomeItem;
using utils::corvana_client::HomeSection;

namespace {

std::string Dump(const json& event) {
    return event.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<int64_t> ParseTimestamp(std::string_view text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

json Images(const std::vector<std::string>& urls) {
    json images = json::array();
    for (const auto& url : urls) images.push_back({{"url", url}});
    return images;
}

json Item(const HomeItem& item) {
    json encoded = {
        {"name", item.name}, {"type", item.type}, {"uri", item.uri}, {"images", Images(item.images)}};
    if (!item.artists.empty()) {
        json artists = json::array();
        for (const auto& name : item.artists) artists.push_back({{"name", name}});
        encoded["artists"] = std::move(artists);
    }
    if (!item.albumImages.empty()) encoded["album"] = {{"images", Images(item.albumImages)}};
    if (item.ownerDisplayName) encoded["owner"] = {{"display_name", *item.ownerDisplayName}};
    if (item.showName) encoded["show"] = {{"name", *item.showName}};
    if (item.description) encoded["description"] = *item.description;
    return encoded;
}

}  // namespace

std::string EncodeLoginStateChanged(bool loggedIn) {
    return Dump({{"type", "login_state_changed"}, {"loggedIn", loggedIn}});
}

std::string EncodeLoginStateChanged(std::string_view signInState) {
    return Dump({{"type", "login_state_changed"},
                 {"loggedIn", signInState == "signedIn"},
                 {"signInState", signInState}});
}

std::string EncodeExpandedState(bool isExpanded) {
    return Dump({{"type", "expandedState"}, {"isExpanded", isExpanded}});
}

std::string EncodeDisplayState(bool isPinnedOnly, double opacity) {
    return Dump({{"type", "displayState"}, {"isPinnedOnly", isPinnedOnly}, {"opacity", opacity}});
}

std::string EncodeActiveDevice(const ConnectActiveDeviceResponse& device) {
    return Dump({{"type", "activeDevice"}, {"isLocal", device.is_local}});
}

std::string EncodeDeviceList(const ConnectClusterResponse& cluster) {
    json devices = json::array();
    for (const auto& device : cluster.devices) {
        devices.push_back({{"id", device.device_id},
                           {"name", device.name},
                           {"deviceType", device.device_type},
                           {"isActive", device.is_active},
                           {"isLocal", device.is_local},
                           {"isSelf", device.is_self},
                           {"volume", device.volume / 100.0},
                           {"supportsVolume", !device.disable_volume}});
    }
    return Dump({{"type", "deviceList"},
                 {"devices", std::move(devices)},
                 {"activeDeviceId",
                  cluster.active_device_id.empty() ? json(nullptr) : json(cluster.active_device_id)}});
}

int64_t EstimatePosition(const PlaybackStateResponse& state, int64_t nowMs) {
    const int64_t reported = state.position_as_of_timestamp.value_or(0);
    double position = static_cast<double>(reported);
    if (state.is_active && !state.is_paused) {
        // A timestamp that does not parse gives no elapsed time; the reported position is still worth
        // showing.
        if (auto measuredAt = ParseTimestamp(state.timestamp)) {
            // In doubles: a timestamp far in the past would overflow the subtraction in 64 bits.
            const double elapsed =
                std::max(0.0, static_cast<double>(nowMs) - static_cast<double>(*measuredAt));
            position += elapsed * state.playback_speed.value_or(1.0);
        }
    }
    if (state.duration && position > *state.duration) position = *state.duration;
    // A speed of NaN or far below 0 from the desktop app gives no estimate: the reported position stands,
    // capped at the duration too (a NaN compares false, and passed the cap above).
    constexpr double kLimit = 0x1p63;
    if (!std::isfinite(position) || position < -kLimit || position >= kLimit) {
        position = static_cast<double>(reported);
        if (state.duration && position > *state.duration) position = *state.duration;
    }
    return static_cast<int64_t>(position);
}

bool IsEpisodeContent(const PlaybackStateResponse& state) {
    if (!state.track) return false;
    const std::string_view uri = state.track->uri;
    return uri.size() >= 16 && (uri.starts_with("corvana:episode:") || uri.starts_with("corvana:chapter:"));
}

std::string EncodePlaybackState(const PlaybackStateResponse& state, int64_t nowMs,
                                const std::string& localImage) {
    json event = {{"type", "playbackState"}, {"isActive", state.is_active}, {"isPaused", state.is_paused}};
    if (state.position_as_of_timestamp && state.duration) {
        event["position"] = EstimatePosition(state, nowMs);
        event["duration"] = *state.duration;
        event["playbackSpeed"] = state.playback_speed.value_or(1.0);
    }
    if (state.track) {
        const auto& track = *state.track;
        event["track"] = {{"uri", track.uri},
                          {"name", track.name},
                          {"artist", track.artist},
                          {"album", track.album},
                          {"image", track.image},
                          {"isInLibrary", track.is_in_collection},
                          {"canAddToLibrary", track.can_add_to_collection}};
        if (!localImage.empty()) event["track"]["localImage"] = localImage;
    }
    const auto& r = state.restrictions;
    event["restrictions"] = {{"disallowPausing", r.disallow_pausing},
                             {"disallowResuming", r.disallow_resuming},
                             {"disallowSeeking", r.disallow_seeking},
                             {"disallowSkippingPrev", r.disallow_skipping_prev},
                             {"disallowSkippingNext", r.disallow_skipping_next},
                             {"disallowTogglingShuffle", r.disallow_toggling_shuffle},
                             {"disallowTogglingRepeatContext", r.disallow_toggling_repeat_context},
                             {"disallowTogglingRepeatTrack", r.disallow_toggling_repeat_track}};
    event["options"] = {{"shuffling", state.shuffle},
                        {"repeating", state.repeat_context},
                        {"repeatingTrack", state.repeat_track}};
    event["volume"] = state.volume_percentage;
    event["isEpisodeContent"] = IsEpisodeContent(state);
    return Dump(event);
}

std::string EncodePlaybackState(const PlaybackStateResponse& state, const std::string& localImage) {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return EncodePlaybackState(state, now.count(), localImage);
}

std::string EncodeHomeContent(const std::vector<HomeSection>& sections) {
    json encoded = json::array();
    for (const auto& section : sections) {
        json items = json::array();
        for (const auto& item : section.items) items.push_back(Item(item));
        encoded.push_back({{"name", section.name}, {"items", std::move(items)}});
    }
    return Dump({{"type", "homeContent"}, {"sections", std::move(encoded)}});
}

}  // namespace velmora::bridge_events
