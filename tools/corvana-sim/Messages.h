#pragma once

#include <sdbus-c++/sdbus-c++.h>
#include <map>
#include <optional>
#include <string>

namespace corvanasim {

using DBusMap = std::map<std::string, sdbus::Variant>;

// The envelopes of the desktop channel: a reply holds "result" or "error", a push "method" and "params".

inline sdbus::Variant S(const std::string& text) {
    return sdbus::Variant(text);
}

inline DBusMap Result(DBusMap data) {
    return {{"result", sdbus::Variant(std::move(data))}};
}

inline DBusMap Failure(int32_t code, const std::string& message) {
    return {{"error", sdbus::Variant(DBusMap{{"code", sdbus::Variant(code)}, {"message", S(message)}})}};
}

inline DBusMap Notification(const std::string& method, DBusMap params) {
    return {{"method", S(method)}, {"params", sdbus::Variant(std::move(params))}};
}

// A parameter of the given type, or nothing when it is missing or of another type.
template <typename T>
std::optional<T> Param(const DBusMap& params, const std::string& key) {
    auto it = params.find(key);
    if (it == params.end() || !it->second.containsValueOfType<T>()) return std::nullopt;
    return it->second.get<T>();
}

}  // namespace corvanasim
