#include "Velmora/Ctl/RecordJson.h"

#include <optional>

// The records' JSON is their own field names; an absent optional is null. The conversions live in the
// records' namespaces, where nlohmann's lookup finds them.
namespace nlohmann {
template <typename T>
struct adl_serializer<std::optional<T>> {
    static void to_json(json& j, const std::optional<T>& value) { j = value ? json(*value) : json(nullptr); }
    static void from_json(const json& j, std::optional<T>& value) {
        value = j.is_null() ? std::nullopt : std::optional<T>(j.get<T>());
    }
};
}  // namespace nlohmann

namespace desktop_api_types {

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(PlaybackTrack, uri, name, artist, album, image, is_advertisement,
                                   is_in_collection, can_add_to_collection)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(PlaybackRestrictions, disallow_pausing, disallow_resuming,
                                   disallow_seeking, disallow_skipping_prev, disallow_skipping_next,
                                   disallow_toggling_repeat_context, disallow_toggling_repeat_track,
                                   disallow_toggling_shuffle)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(PlaybackStateResponse, type, timestamp, track, context, playback_speed,
                                   position_as_of_timestamp, duration, is_active, is_paused, shuffle,
                                   repeat_context, repeat_track, restrictions, volume_percentage)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ConnectDevice, device_id, name, device_type, volume, is_active, is_local,
                                   is_self, disable_volume)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ConnectClusterResponse, active_device_id, devices)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ConnectActiveDeviceResponse, active_device_id, is_local)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ConnectionStateResponse, connected)

// A desktop app that never says whether it has a web account has one: the member shows only when it is
// false, as the desktop app sends it.
void to_json(nlohmann::json& j, const LoginStateResponse& state) {
    j = {{"logged_in", state.logged_in}};
    if (!state.web_account) j["web_account"] = false;
}

}  // namespace desktop_api_types

namespace utils::corvana_client {

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(HomeItem, name, type, uri, images, artists, albumImages, ownerDisplayName,
                                   showName, description)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(HomeSection, name, items)

}  // namespace utils::corvana_client

namespace velmora {

using nlohmann::json;
using namespace desktop_api_types;

json ToJson(const PlaybackStateResponse& state) {
    return state;
}

json ToJson(const ConnectClusterResponse& cluster) {
    return cluster;
}

json ToJson(const ConnectActiveDeviceResponse& device) {
    return device;
}

json ToJson(const ConnectionStateResponse& state) {
    return state;
}

json ToJson(const LoginStateResponse& state) {
    return state;
}

json ToJson(const std::vector<utils::corvana_client::HomeSection>& sections) {
    return sections;
}

std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace velmora
