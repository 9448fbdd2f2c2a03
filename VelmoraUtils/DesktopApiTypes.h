#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/ValueSet.h"

// Records the desktop app sends, and their parsers. Every parser reads its keys in the order of the
// record's fields and fails (PlatformError: E_BOUNDS for a missing key, E_NOINTERFACE for a wrong kind)
// on the first required key that is missing or of the wrong kind; no partial record is ever returned.
namespace desktop_api_types {

struct PlaybackTrack {
    std::string uri;
    std::string name;
    std::string artist;
    std::string album;
    std::string image;
    bool is_advertisement = false;
    bool is_in_collection = false;
    bool can_add_to_collection = false;
};

struct PlaybackRestrictions {
    bool disallow_pausing = false;
    bool disallow_resuming = false;
    bool disallow_seeking = false;
    bool disallow_skipping_prev = false;
    bool disallow_skipping_next = false;
    bool disallow_toggling_repeat_context = false;
    bool disallow_toggling_repeat_track = false;
    bool disallow_toggling_shuffle = false;
};

struct PlaybackStateResponse {
    std::string type;
    std::string timestamp;  // carried as the text the desktop app sent
    std::optional<PlaybackTrack> track;
    std::optional<std::string> context;  // the context's uri
    std::optional<double> playback_speed;
    std::optional<int32_t> position_as_of_timestamp;  // milliseconds
    std::optional<int32_t> duration;                  // milliseconds
    bool is_active = false;
    bool is_paused = false;
    bool shuffle = false;
    bool repeat_context = false;
    bool repeat_track = false;
    PlaybackRestrictions restrictions;
    double volume_percentage = 0.0;
};

struct ConnectActiveDeviceResponse {
    std::string active_device_id;
    bool is_local = false;
};

struct ConnectDevice {
    std::string device_id;
    std::string name;
    std::string device_type;
    int32_t volume = 0;
    bool is_active = false;
    bool is_local = false;
    bool is_self = false;
    bool disable_volume = false;
};

struct ConnectClusterResponse {
    std::string active_device_id;
    std::vector<ConnectDevice> devices;
};

struct ConnectionStateResponse {
    bool connected = false;
};

struct LoginStateResponse {
    bool logged_in = false;
    // False when the desktop side plays but has no Corvana account (a desktop app that never sends the
    // member has one): there is then nothing to sign in to, only playback to show.
    bool web_account = true;
};

struct AuthCodeResponse {
    std::string auth_code;
};

struct ErrorResponse {
    int32_t code = 0;
    std::optional<std::string> message;
};

PlaybackTrack ParsePlaybackTrack(const platform::Value& value);
PlaybackRestrictions ParsePlaybackRestrictions(const platform::Value& value);
std::string ParsePlaybackContext(const platform::Value& value);
PlaybackStateResponse ParsePlaybackStateResponse(const platform::Value& value);
ConnectActiveDeviceResponse ParseConnectActiveDeviceResponse(const platform::Value& value);
ConnectDevice ParseConnectDevice(const platform::Value& value);
ConnectClusterResponse ParseConnectClusterResponse(const platform::Value& value);
ConnectionStateResponse ParseConnectionStateResponse(const platform::Value& value);
LoginStateResponse ParseLoginStateResponse(const platform::Value& value);
AuthCodeResponse ParseAuthCodeResponse(const platform::Value& value);
ErrorResponse ParseErrorResponse(const platform::Value& value);

// The text logged for a failed request of `method`: the method and the desktop app's message appear only
// when the error object carries a message. Reading the error object may fail (no "code"); that failure is
// raised instead of the text.
std::string ErrorText(std::string_view method, const platform::ValueSet& errorData);

}  // namespace desktop_api_types
