#include "fuzz/FuzzSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "VelmoraUtils/Utf8Text.h"

namespace fuzz {

using platform::Value;
using platform::ValueKind;
using platform::ValueSet;
using namespace desktop_api_types;

uint32_t Input::U32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | Byte();
    return value;
}

int64_t Input::I64() {
    uint64_t value = (static_cast<uint64_t>(U32()) << 32) | U32();
    return static_cast<int64_t>(value);
}

double Input::Double() {
    // Mostly plain numbers, which the protocol expects; sometimes any bit pattern.
    switch (Byte() % 4) {
        case 0:
            return static_cast<double>(I32());
        case 1:
            return static_cast<double>(I32()) / 1000.0;
        case 2: {
            static const double special[] = {0.0,       -0.0,  1.0,    100.0,  NAN, INFINITY,
                                             -INFINITY, 1e300, -1e300, 4e-320, 0.5, -1.0};
            return special[Byte() % (sizeof special / sizeof *special)];
        }
        default: {
            uint64_t bits = (static_cast<uint64_t>(U32()) << 32) | U32();
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
    }
}

std::string Input::Bytes(size_t maxBytes) {
    size_t length = std::min<size_t>(Byte(), maxBytes);
    length = std::min(length, Left());
    std::string text(reinterpret_cast<const char*>(data_ + at_), length);
    at_ += length;
    return text;
}

std::string Input::Text(const std::vector<std::string_view>& words, size_t maxBytes) {
    uint8_t choice = Byte();
    if (!words.empty() && choice < 160) return std::string(words[choice % words.size()]);
    return Bytes(maxBytes);
}

std::string_view Input::Rest() {
    std::string_view rest(reinterpret_cast<const char*>(data_ + at_), Left());
    at_ = size_;
    return rest;
}

namespace {
FILE* realStandardError = nullptr;
}  // namespace

void QuietStandardError() {
    if (realStandardError) return;
    realStandardError = stderr;
    if (FILE* null = std::fopen("/dev/null", "w")) stderr = null;
}

void Fail(const char* check, const std::string& detail) {
    FILE* out = realStandardError ? realStandardError : stderr;
    std::fprintf(out, "FUZZ CHECK FAILED: %s\n  %s\n", check, detail.c_str());
    std::fflush(out);
    std::abort();
}

const std::vector<std::string_view>& ProtocolKeys() {
    static const std::vector<std::string_view> keys = {"method",
                                                       "params",
                                                       "id",
                                                       "error",
                                                       "result",
                                                       "code",
                                                       "message",
                                                       "type",
                                                       "timestamp",
                                                       "track",
                                                       "context",
                                                       "uri",
                                                       "playback_speed",
                                                       "position_as_of_timestamp",
                                                       "duration",
                                                       "is_active",
                                                       "is_paused",
                                                       "shuffle",
                                                       "repeat",
                                                       "restrictions",
                                                       "volume_percentage",
                                                       "name",
                                                       "artist",
                                                       "album",
                                                       "image",
                                                       "is_advertisement",
                                                       "is_in_collection",
                                                       "can_add_to_collection",
                                                       "disallow_pausing",
                                                       "disallow_resuming",
                                                       "disallow_seeking",
                                                       "disallow_skipping_prev",
                                                       "disallow_skipping_next",
                                                       "disallow_toggling_repeat_context",
                                                       "disallow_toggling_repeat_track",
                                                       "disallow_toggling_shuffle",
                                                       "active_device_id",
                                                       "is_local",
                                                       "devices",
                                                       "_count",
                                                       "0",
                                                       "1",
                                                       "2",
                                                       "device_id",
                                                       "device_type",
                                                       "volume",
                                                       "is_self",
                                                       "capabilities",
                                                       "disable_volume",
                                                       "connected",
                                                       "logged_in",
                                                       "web_account",
                                                       "auth_code",
                                                       "username"};
    return keys;
}

const std::vector<std::string_view>& ProtocolWords() {
    static const std::vector<std::string_view> words = {"true",
                                                        "false",
                                                        "True",
                                                        "context",
                                                        "track",
                                                        "off",
                                                        "1",
                                                        "0",
                                                        "2",
                                                        "-1",
                                                        "1700000000000",
                                                        "playback_state_subscription",
                                                        "login_state_subscription",
                                                        "connect_active_device_subscription",
                                                        "connection_state_changed",
                                                        "corvana:track:1",
                                                        "corvana:episode:12345",
                                                        "https://i.example/c.jpg",
                                                        "",
                                                        "\xff",
                                                        "\xed\xa0\x80",
                                                        "\xc0\xaf",
                                                        "\xe2\x82"};
    return words;
}

Value MakeValue(Input& input, int depth) {
    switch (input.Byte() % (depth > 0 ? 6 : 5)) {
        case 0:
            return Value(input.Text(ProtocolWords()));
        case 1:
            return Value(input.Bool());
        case 2: {
            // Small numbers mostly: "_count" and indexes must meet the keys that exist.
            uint8_t pick = input.Byte();
            if (pick < 128) return Value(static_cast<int32_t>(pick % 5) - 1);
            return Value(input.I32());
        }
        case 3:
            return Value(input.Double());
        case 4: {
            std::vector<std::string> texts;
            for (size_t n = input.Below(5); n > 0; --n) texts.push_back(input.Text(ProtocolWords(), 32));
            return Value(std::move(texts));
        }
        default:
            return Value(MakeValueSet(input, depth - 1));
    }
}

ValueSet MakeValueSet(Input& input, int depth) {
    ValueSet set;
    for (size_t n = input.Below(24); n > 0 && !input.Empty(); --n) {
        std::string key = input.Text(ProtocolKeys(), 24);
        set.Insert(std::move(key), MakeValue(input, depth));
    }
    return set;
}

bool Same(const Value& a, const Value& b) {
    if (a.Kind() != b.Kind()) return false;
    switch (a.Kind()) {
        case ValueKind::Double: {
            double x = a.AsDouble(), y = b.AsDouble();
            if (std::isnan(x) && std::isnan(y)) return true;
            return std::memcmp(&x, &y, sizeof x) == 0;  // -0.0 and 0.0 are told apart too
        }
        case ValueKind::ValueSet:
            return Same(a.AsValueSet(), b.AsValueSet());
        default:
            return a == b;
    }
}

bool Same(const ValueSet& a, const ValueSet& b) {
    if (a.Size() != b.Size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        if (i->first != j->first || !Same(i->second, j->second)) return false;
    }
    return true;
}

namespace {

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out + "\"";
}

}  // namespace

std::string Describe(const Value& value) {
    switch (value.Kind()) {
        case ValueKind::String:
            return Quoted(value.AsString());
        case ValueKind::Boolean:
            return value.AsBoolean() ? "true" : "false";
        case ValueKind::Int32:
            return std::to_string(value.AsInt32());
        case ValueKind::Double: {
            char text[40];
            std::snprintf(text, sizeof text, "%.17gd", value.AsDouble());
            return text;
        }
        case ValueKind::StringArray: {
            std::string out = "[";
            for (const auto& text : value.AsStringArray()) out += Quoted(text) + ",";
            return out + "]";
        }
        case ValueKind::ValueSet:
            return Describe(value.AsValueSet());
    }
    return "?";
}

std::string Describe(const ValueSet& set) {
    std::string out = "{";
    for (const auto& [key, value] : set) out += Quoted(key) + ":" + Describe(value) + ",";
    return out + "}";
}

ValueSet Encode(const PlaybackTrack& t) {
    return ValueSet{{"uri", Value(t.uri)},
                    {"name", Value(t.name)},
                    {"artist", Value(t.artist)},
                    {"album", Value(t.album)},
                    {"image", Value(t.image)},
                    {"is_advertisement", Value(t.is_advertisement)},
                    {"is_in_collection", Value(t.is_in_collection)},
                    {"can_add_to_collection", Value(t.can_add_to_collection)}};
}

ValueSet Encode(const PlaybackRestrictions& r) {
    return ValueSet{{"disallow_pausing", Value(r.disallow_pausing)},
                    {"disallow_resuming", Value(r.disallow_resuming)},
                    {"disallow_seeking", Value(r.disallow_seeking)},
                    {"disallow_skipping_prev", Value(r.disallow_skipping_prev)},
                    {"disallow_skipping_next", Value(r.disallow_skipping_next)},
                    {"disallow_toggling_repeat_context", Value(r.disallow_toggling_repeat_context)},
                    {"disallow_toggling_repeat_track", Value(r.disallow_toggling_repeat_track)},
                    {"disallow_toggling_shuffle", Value(r.disallow_toggling_shuffle)}};
}

ValueSet EncodeContext(const std::string& uri) {
    return ValueSet{{"uri", Value(uri)}};
}

ValueSet Encode(const PlaybackStateResponse& s) {
    ValueSet set{{"type", Value(s.type)},
                 {"timestamp", Value(s.timestamp)},
                 {"is_active", Value(s.is_active)},
                 {"is_paused", Value(s.is_paused)},
                 {"shuffle", Value(s.shuffle)},
                 {"repeat", Value(s.repeat_context ? "context"
                                  : s.repeat_track ? "track"
                                                   : "off")},
                 {"restrictions", Value(Encode(s.restrictions))},
                 {"volume_percentage", Value(s.volume_percentage)}};
    if (s.track) set.Insert("track", Value(Encode(*s.track)));
    if (s.context) set.Insert("context", Value(EncodeContext(*s.context)));
    if (s.playback_speed) set.Insert("playback_speed", Value(*s.playback_speed));
    if (s.position_as_of_timestamp)
        set.Insert("position_as_of_timestamp", Value(*s.position_as_of_timestamp));
    if (s.duration) set.Insert("duration", Value(*s.duration));
    return set;
}

ValueSet Encode(const ConnectActiveDeviceResponse& d) {
    return ValueSet{{"active_device_id", Value(d.active_device_id)}, {"is_local", Value(d.is_local)}};
}

ValueSet Encode(const ConnectDevice& d) {
    return ValueSet{{"device_id", Value(d.device_id)},
                    {"name", Value(d.name)},
                    {"device_type", Value(d.device_type)},
                    {"volume", Value(d.volume)},
                    {"is_active", Value(d.is_active)},
                    {"is_local", Value(d.is_local)},
                    {"is_self", Value(d.is_self)},
                    {"capabilities", Value(ValueSet{{"disable_volume", Value(d.disable_volume)}})}};
}

ValueSet Encode(const ConnectClusterResponse& c) {
    ValueSet devices{{"_count", Value(static_cast<int32_t>(c.devices.size()))}};
    for (size_t i = 0; i < c.devices.size(); ++i)
        devices.Insert(std::to_string(i), Value(Encode(c.devices[i])));
    return ValueSet{{"active_device_id", Value(c.active_device_id)}, {"devices", Value(std::move(devices))}};
}

ValueSet Encode(const ConnectionStateResponse& s) {
    return ValueSet{{"connected", Value(s.connected ? "true" : "false")}};
}

ValueSet Encode(const LoginStateResponse& s) {
    return ValueSet{{"logged_in", Value(s.logged_in)}, {"web_account", Value(s.web_account)}};
}

ValueSet Encode(const AuthCodeResponse& c) {
    return ValueSet{{"auth_code", Value(c.auth_code)}};
}

ValueSet Encode(const ErrorResponse& e) {
    ValueSet set{{"code", Value(e.code)}};
    if (e.message) set.Insert("message", Value(*e.message));
    return set;
}

PlaybackStateResponse MakePlaybackState(Input& input) {
    const auto& words = ProtocolWords();
    PlaybackStateResponse s;
    s.type = input.Text({"track", "episode", "ad", ""});
    s.timestamp = input.Text(words);
    if (input.Bool()) {
        PlaybackTrack t;
        t.uri = input.Text(words);
        t.name = input.Text(words, 200);
        t.artist = input.Text(words);
        t.album = input.Text(words);
        t.image = input.Text(words);
        t.is_advertisement = input.Bool();
        t.is_in_collection = input.Bool();
        t.can_add_to_collection = input.Bool();
        s.track = t;
    }
    if (input.Bool()) s.context = input.Text(words);
    if (input.Bool()) s.playback_speed = input.Double();
    if (input.Bool()) s.position_as_of_timestamp = input.I32();
    if (input.Bool()) s.duration = input.I32();
    s.is_active = input.Bool();
    s.is_paused = input.Bool();
    s.shuffle = input.Bool();
    switch (input.Below(3)) {
        case 1:
            s.repeat_context = true;
            break;
        case 2:
            s.repeat_track = true;
            break;
    }
    uint8_t flags = input.Byte();
    auto& r = s.restrictions;
    bool* all[] = {&r.disallow_pausing,
                   &r.disallow_resuming,
                   &r.disallow_seeking,
                   &r.disallow_skipping_prev,
                   &r.disallow_skipping_next,
                   &r.disallow_toggling_repeat_context,
                   &r.disallow_toggling_repeat_track,
                   &r.disallow_toggling_shuffle};
    for (int i = 0; i < 8; ++i) *all[i] = (flags >> i) & 1;
    s.volume_percentage = input.Double();
    return s;
}

ConnectClusterResponse MakeCluster(Input& input) {
    ConnectClusterResponse c;
    c.active_device_id = input.Text(ProtocolWords());
    for (size_t n = input.Below(6); n > 0; --n) {
        ConnectDevice d;
        d.device_id = input.Text(ProtocolWords());
        d.name = input.Text(ProtocolWords(), 100);
        d.device_type = input.Text({"computer", "smartphone", "speaker", "tv"});
        d.volume = input.Bool() ? static_cast<int32_t>(input.Byte() % 101) : input.I32();
        d.is_active = input.Bool();
        d.is_local = input.Bool();
        d.is_self = input.Bool();
        d.disable_volume = input.Bool();
        c.devices.push_back(std::move(d));
    }
    return c;
}

const std::string& ScratchFolder(std::string_view name) {
    // Destroyed at exit, after the run; each folder goes with it.
    static struct Folders {
        std::map<std::string, std::string, std::less<>> made;
        ~Folders() {
            for (const auto& [name, folder] : made) {
                std::error_code ignored;
                std::filesystem::remove_all(folder, ignored);
            }
        }
    } folders;
    if (auto found = folders.made.find(name); found != folders.made.end()) return found->second;
    const std::string base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/velmora-fuzz-" + std::string(name) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return folders.made.emplace(std::string(name), std::move(pattern)).first->second;
}

bool IsValidUtf8(std::string_view text) {
    return utils::Utf8Text::IsValid(text);
}

}  // namespace fuzz
