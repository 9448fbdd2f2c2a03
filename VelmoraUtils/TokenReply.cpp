#include "VelmoraUtils/TokenReply.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "Platform/Foundation/PlatformError.h"

namespace utils {

namespace {

using nlohmann::json;

[[noreturn]] void Refuse(const std::string& why) {
    throw platform::PlatformError(platform::E_INVALIDARG, "the token reply " + why);
}

std::string Token(const json& body, const char* key) {
    auto it = body.find(key);
    if (it == body.end()) Refuse(std::string("has no ") + key);
    const std::string has = std::string(key[0] == 'a' ? "has an " : "has a ") + key;
    if (!it->is_string()) Refuse(has + " that is not a string");
    const std::string& token = it->get_ref<const std::string&>();
    if (!TokenReply::IsAcceptableToken(token)) Refuse(has + " that is no token");
    return token;
}

int32_t ExpiresIn(const json& body) {
    auto it = body.find("expires_in");
    if (it == body.end()) Refuse("has no expires_in");
    if (!it->is_number()) Refuse("has an expires_in that is not a number");
    const double seconds = std::trunc(it->get<double>());
    if (!std::isfinite(seconds)) Refuse("has an expires_in that is not finite");
    return static_cast<int32_t>(std::clamp<double>(seconds, std::numeric_limits<int32_t>::min(),
                                                   std::numeric_limits<int32_t>::max()));
}

}  // namespace

bool TokenReply::IsAcceptableToken(std::string_view token) {
    if (token.empty() || token.size() > kMaxTokenBytes) return false;
    return std::all_of(token.begin(), token.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

TokenReply TokenReply::Parse(std::string_view body, bool requireRefreshToken) {
    json root;
    try {
        root = json::parse(body);
    } catch (const json::exception&) {
        Refuse("is not JSON");
    }
    if (!root.is_object()) Refuse("is not a JSON object");
    TokenReply reply;
    reply.accessToken = Token(root, "access_token");
    if (requireRefreshToken || root.contains("refresh_token"))
        reply.refreshToken = Token(root, "refresh_token");
    reply.expiresIn = ExpiresIn(root);
    return reply;
}

}  // namespace utils
