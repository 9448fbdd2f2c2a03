// The page bridge's event encoders, over records a parser could have returned (any texts, any numbers). What
// must hold: each event is one valid JSON object naming its type; what the records carried comes back out of
// it (texts that were valid UTF-8 unchanged, counts, flags); the position stays within the duration and
// is a number whatever the speed; nothing throws.
#include <cmath>

#include <nlohmann/json.hpp>

#include "Velmora/WebView/BridgeEvents.h"
#include "fuzz/FuzzSupport.h"

using nlohmann::json;
using namespace desktop_api_types;
using namespace velmora::bridge_events;

namespace {

json Parsed(const std::string& text, const char* type) {
    json event;
    try {
        event = json::parse(text);
    } catch (const std::exception& error) {
        fuzz::Fail("an event is valid JSON", std::string(type) + ": " + error.what());
    }
    FUZZ_CHECK(event.is_object() && event.value("type", "") == type, text);
    return event;
}

void SameText(const json& encoded, const std::string& original, const std::string& what) {
    FUZZ_CHECK(encoded.is_string(), what + " is not a string");
    if (fuzz::IsValidUtf8(original)) FUZZ_CHECK(encoded.get<std::string>() == original, what + " changed");
}

void PlaybackState(fuzz::Input& input) {
    PlaybackStateResponse state = fuzz::MakePlaybackState(input);
    const int64_t now = input.Bool() ? input.I64() : 1700000000000 + input.I32();
    json event = Parsed(EncodePlaybackState(state, now), "playbackState");
    FUZZ_CHECK(event["isActive"] == state.is_active && event["isPaused"] == state.is_paused, event.dump());
    if (state.position_as_of_timestamp && state.duration) {
        FUZZ_CHECK(event["position"].is_number_integer(), event.dump());
        const int64_t position = event["position"].get<int64_t>();
        FUZZ_CHECK(position <= *state.duration, "position " + std::to_string(position) +
                                                    " beyond the duration " +
                                                    std::to_string(*state.duration) + " (speed " +
                                                    std::to_string(state.playback_speed.value_or(1.0)) + ")");
        FUZZ_CHECK(position == EstimatePosition(state, now), "the event's position is not the estimate");
        FUZZ_CHECK(event["duration"] == *state.duration, event.dump());
    } else {
        FUZZ_CHECK(!event.contains("position"), event.dump());
    }
    if (state.track) {
        const json& track = event["track"];
        SameText(track["uri"], state.track->uri, "uri");
        SameText(track["name"], state.track->name, "name");
        SameText(track["artist"], state.track->artist, "artist");
        SameText(track["album"], state.track->album, "album");
        SameText(track["image"], state.track->image, "image");
        FUZZ_CHECK(track["isInLibrary"] == state.track->is_in_collection, event.dump());
    } else {
        FUZZ_CHECK(!event.contains("track"), event.dump());
    }
    FUZZ_CHECK(event["options"]["shuffling"] == state.shuffle &&
                   event["options"]["repeating"] == state.repeat_context &&
                   event["options"]["repeatingTrack"] == state.repeat_track,
               event.dump());
    FUZZ_CHECK(event["restrictions"]["disallowSeeking"] == state.restrictions.disallow_seeking, event.dump());
    FUZZ_CHECK(event["isEpisodeContent"] == IsEpisodeContent(state), event.dump());
    // The plain form (the clock of the machine) keeps to the same rules.
    Parsed(EncodePlaybackState(state), "playbackState");
}

void DeviceList(fuzz::Input& input) {
    ConnectClusterResponse cluster = fuzz::MakeCluster(input);
    json event = Parsed(EncodeDeviceList(cluster), "deviceList");
    FUZZ_CHECK(event["devices"].size() == cluster.devices.size(), event.dump());
    for (size_t i = 0; i < cluster.devices.size(); ++i) {
        const auto& device = cluster.devices[i];
        const json& encoded = event["devices"][i];
        SameText(encoded["id"], device.device_id, "device id");
        SameText(encoded["name"], device.name, "device name");
        FUZZ_CHECK(encoded["volume"].get<double>() == device.volume / 100.0, encoded.dump());
        FUZZ_CHECK(encoded["supportsVolume"] == !device.disable_volume, encoded.dump());
    }
    if (cluster.active_device_id.empty()) {
        FUZZ_CHECK(event["activeDeviceId"].is_null(), event.dump());
    } else {
        SameText(event["activeDeviceId"], cluster.active_device_id, "active device id");
    }
}

void HomeContent(fuzz::Input& input) {
    std::vector<utils::corvana_client::HomeSection> sections;
    for (size_t n = input.Below(5); n > 0; --n) {
        utils::corvana_client::HomeSection section;
        section.name = input.Text(fuzz::ProtocolWords());
        for (size_t m = input.Below(7) + 1; m > 0; --m) {
            utils::corvana_client::HomeItem item;
            item.name = input.Text(fuzz::ProtocolWords());
            item.type = input.Text({"track", "album", "playlist", "show", "episode"});
            item.uri = input.Text(fuzz::ProtocolWords());
            for (size_t k = input.Below(3); k > 0; --k)
                item.images.push_back(input.Text(fuzz::ProtocolWords()));
            for (size_t k = input.Below(3); k > 0; --k)
                item.artists.push_back(input.Text(fuzz::ProtocolWords()));
            if (input.Bool()) item.description = input.Text(fuzz::ProtocolWords());
            if (input.Bool()) item.showName = input.Text(fuzz::ProtocolWords());
            if (input.Bool()) item.ownerDisplayName = input.Text(fuzz::ProtocolWords());
            section.items.push_back(std::move(item));
        }
        sections.push_back(std::move(section));
    }
    json event = Parsed(EncodeHomeContent(sections), "homeContent");
    FUZZ_CHECK(event["sections"].size() == sections.size(), event.dump());
    for (size_t i = 0; i < sections.size(); ++i) {
        SameText(event["sections"][i]["name"], sections[i].name, "section name");
        FUZZ_CHECK(event["sections"][i]["items"].size() == sections[i].items.size(), event.dump());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    switch (input.Byte() % 6) {
        case 0:
            PlaybackState(input);
            break;
        case 1:
            DeviceList(input);
            break;
        case 2:
            HomeContent(input);
            break;
        case 3: {
            ConnectActiveDeviceResponse device{input.Text(fuzz::ProtocolWords()), input.Bool()};
            json event = Parsed(EncodeActiveDevice(device), "activeDevice");
            FUZZ_CHECK(event["isLocal"] == device.is_local, event.dump());
            break;
        }
        case 4: {
            const bool pinned = input.Bool();
            const double opacity = input.Double();
            json event = Parsed(EncodeDisplayState(pinned, opacity), "displayState");
            FUZZ_CHECK(event["isPinnedOnly"] == pinned, event.dump());
            if (std::isfinite(opacity)) FUZZ_CHECK(event["opacity"].get<double>() == opacity, event.dump());
            break;
        }
        default: {
            const bool flag = input.Bool();
            FUZZ_CHECK(Parsed(EncodeLoginStateChanged(flag), "login_state_changed")["loggedIn"] == flag, "");
            FUZZ_CHECK(Parsed(EncodeExpandedState(flag), "expandedState")["isExpanded"] == flag, "");
            break;
        }
    }
    return 0;
}
