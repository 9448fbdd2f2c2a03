#include "Velmora/Ctl/RecordJson.h"

namespace velmora {

using nlohmann::json;
using namespace desktop_api_types;

namespace {

template <typename T>
json Optional(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json ToJson(const PlaybackTrack& track) {
    return {{"uri", track.uri},
            {"name", track.name},
            {"artist", track.artist},
            {"album", track.album},
            {"image", track.image},
            {"is_advertisement", track.is_advertisement},
            {"is_in_collection", track.is_in_collection},
            {"can_add_to_collection", track.can_add_to_collection}};
}

json ToJson(const PlaybackRestrictions& r) {
    return {{"disallow_pausing", r.disallow_pausing},
            {"disallow_resuming", r.disallow_resuming},
            {"disallow_seeking", r.disallow_seeking},
            {"disallow_skipping_prev", r.disallow_skipping_prev},
            {"disallow_skipping_next", r.disallow_skipping_next},
            {"disallow_toggling_repeat_context", r.disallow_toggling_repeat_context},
            {"disallow_toggling_repeat_track", r.disallow_toggling_repeat_track},
            {"disallow_toggling_shuffle", r.disallow_toggling_shuffle}};
}

}  // namespace

json ToJson(const PlaybackStateResponse& s) {
    return {{"type", s.type},
            {"timestamp", s.timestamp},
            {"track", s.track ? ToJson(*s.track) : json(nullptr)},
            {"context", Optional(s.context)},
            {"playback_speed", Optional(s.playback_speed)},
            {"position_as_of_timestamp", Optional(s.position_as_of_timestamp)},
            {"duration", Optional(s.duration)},
            {"is_active", s.is_active},
            {"is_paused", s.is_paused},
            {"shuffle", s.shuffle},
            {"repeat_context", s.repeat_context},
            {"repeat_track", s.repeat_track},
            {"restrictions", ToJson(s.restrictions)},
            {"volume_percentage", s.volume_percentage}};
}

json ToJson(const ConnectClusterResponse& cluster) {
    json devices = json::array();
    for (const auto& d : cluster.devices) {
        devices.push_back({{"device_id", d.device_id},
                           {"name", d.name},
                           {"device_type", d.device_type},
                           {"volume", d.volume},
                           {"is_active", d.is_active},
                           {"is_local", d.is_local},
                           {"is_self", d.is_self},
                           {"disable_volume", d.disable_volume}});
    }
    return {{"active_device_id", cluster.active_device_id}, {"devices", devices}};
}

json ToJson(const ConnectActiveDeviceResponse& device) {
    return {{"active_device_id", device.active_device_id}, {"is_local", device.is_local}};
}

json ToJson(const ConnectionStateResponse& state) {
    return {{"connected", state.connected}};
}

json ToJson(const LoginStateResponse& state) {
    json login{{"logged_in", state.logged_in}};
    if (!state.web_account) login["web_account"] = false;
    return login;
}

json ToJson(const std::vector<utils::corvana_client::HomeSection>& sections) {
    json rows = json::array();
    for (const auto& section : sections) {
        json items = json::array();
        for (const auto& item : section.items) {
            items.push_back({{"name", item.name},
                             {"type", item.type},
                             {"uri", item.uri},
                             {"images", item.images},
                             {"artists", item.artists},
                             {"albumImages", item.albumImages},
                             {"ownerDisplayName", Optional(item.ownerDisplayName)},
                             {"showName", Optional(item.showName)},
                             {"description", Optional(item.description)}});
        }
        rows.push_back({{"name", section.name}, {"items", items}});
    }
    return rows;
}

std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace velmora
