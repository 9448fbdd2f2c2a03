#include "VelmoraUtils/DesktopApiTypes.h"

namespace desktop_api_types {

using platform::Value;
using platform::ValueSet;

namespace {

const std::string& Text(const ValueSet& set, std::string_view key) {
    return set.Lookup(key).AsString();
}
bool Flag(const ValueSet& set, std::string_view key) {
    return set.Lookup(key).AsBoolean();
}
int32_t Int32(const ValueSet& set, std::string_view key) {
    return set.Lookup(key).AsInt32();
}

}  // namespace

PlaybackTrack ParsePlaybackTrack(const Value& value) {
    const ValueSet& set = value.AsValueSet();
    PlaybackTrack track;
    track.uri = Text(set, "uri");
    track.name = Text(set, "name");
    track.artist = Text(set, "artist");
    track.album = Text(set, "album");
    track.image = Text(set, "image");
    track.is_advertisement = Flag(set, "is_advertisement");
    track.is_in_collection = Flag(set, "is_in_collection");
    track.can_add_to_collection = Flag(set, "can_add_to_collection");
    return track;
}

PlaybackRestrictions ParsePlaybackRestrictions(const Value& value) {
    const ValueSet& set = value.AsValueSet();
    PlaybackRestrictions restrictions;
    restrictions.disallow_pausing = Flag(set, "disallow_pausing");
    restrictions.disallow_resuming = Flag(set, "disallow_resuming");
    restrictions.disallow_seeking = Flag(set, "disallow_seeking");
    restrictions.disallow_skipping_prev = Flag(set, "disallow_skipping_prev");
    restrictions.disallow_skipping_next = Flag(set, "disallow_skipping_next");
    restrictions.disallow_toggling_repeat_context = Flag(set, "disallow_toggling_repeat_context");
    restrictions.disallow_toggling_repeat_track = Flag(set, "disallow_toggling_repeat_track");
    restrictions.disallow_toggling_shuffle = Flag(set, "disallow_toggling_shuffle");
    return restrictions;
}

std::string ParsePlaybackContext(const Value& value) {
    return Text(value.AsValueSet(), "uri");
}

PlaybackStateResponse ParsePlaybackStateResponse(const Value& value) {
    const ValueSet& set = value.AsValueSet();
    PlaybackStateResponse state;
    state.type = Text(set, "type");
    state.timestamp = Text(set, "timestamp");
    if (set.HasKey("track")) state.track = ParsePlaybackTrack(set.Lookup("track"));
    if (set.HasKey("context")) state.context = ParsePlaybackContext(set.Lookup("context"));
    if (set.HasKey("playback_speed")) state.playback_speed = set.Lookup("playback_speed").AsDouble();
    if (set.HasKey("position_as_of_timestamp")) {
        state.position_as_of_timestamp = Int32(set, "position_as_of_timestamp");
    }
    if (set.HasKey("duration")) state.duration = Int32(set, "duration");
    state.is_active = Flag(set, "is_active");
    state.is_paused = Flag(set, "is_paused");
    state.shuffle = Flag(set, "shuffle");
    const std::string& repeat = Text(set, "repeat");
    state.repeat_context = repeat == "context";
    state.repeat_track = repeat == "track";
    state.restrictions = ParsePlaybackRestrictions(set.Lookup("restrictions"));
    if (set.HasKey("volume_percentage")) state.volume_percentage = set.Lookup("volume_percentage").AsDouble();
    return state;
}

ConnectActiveDeviceResponse ParseConnectActiveDeviceResponse(const Value& value) {
    const ValueSet& set = value.AsValueSet();
    return {Text(set, "active_device_id"), Flag(set, "is_local")};
}

ConnectDevice ParseConnectDevice(const Value& value) {
    const ValueSet& set = value.AsValueSet();
    ConnectDevice device;
    device.device_id = Text(set, "device_id");
    device.name = Text(set, "name");
    device.device_type = Text(set, "device_type");
    device.volume = Int32(set, "volume");
    device.is_active = Flag(set, "is_active");
    device.is_local = Flag(set, "is_local");
    device.is_self = Flag(set, "is_self");
    if (set.HasKey("capabilities")) {
        const ValueSet& capabilities = set.Lookup("capabilities").AsValueSet();
        if (capabilities.HasKey("disable_volume"))
            device.disable_volume = Flag(capabilities, "disable_volume");
    }
    return device;
}

ConnectClusterResponse ParseConnectClusterResponse(const Value& value) {
    const ValueSet& set = value.AsValueSet();
    ConnectClusterResponse cluster;
    cluster.active_device_id = Text(set, "active_device_id");
    if (set.HasKey("devices")) {
        const ValueSet& devices = set.Lookup("devices").AsValueSet();
        int32_t count = Int32(devices, "_count");
        for (int32_t i = 0; i < count; ++i)
            cluster.devices.push_back(ParseConnectDevice(devices.Lookup(std::to_string(i))));
    }
    return cluster;
}

ConnectionStateResponse ParseConnectionStateResponse(const Value& value) {
    return {Text(value.AsValueSet(), "connected") == "true"};
}

LoginStateResponse ParseLoginStateResponse(const Value& value) {
    const ValueSet& set = value.AsValueSet();
    LoginStateResponse state;
    state.logged_in = Flag(set, "logged_in");
    if (set.HasKey("web_account")) state.web_account = Flag(set, "web_account");
    return state;
}

AuthCodeResponse ParseAuthCodeResponse(const Value& value) {
    return {Text(value.AsValueSet(), "auth_code")};
}

ErrorResponse ParseErrorResponse(const Value& value) {
    const ValueSet& set = value.AsValueSet();
    ErrorResponse error;
    error.code = Int32(set, "code");
    if (set.HasKey("message")) error.message = Text(set, "message");
    return error;
}

std::string ErrorText(std::string_view method, const ValueSet& errorData) {
    ErrorResponse error = ParseErrorResponse(Value(errorData));
    std::string text = "DesktopAPIController Error: ";
    if (error.message) {
        text += method;
        text += " - ";
        text += *error.message;
    }
    return text;
}

}  // namespace desktop_api_types
