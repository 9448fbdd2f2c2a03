#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace utils {

// The token endpoint's answer: the JSON object with "access_token", "refresh_token" (required
// for a code exchange, optional for a refresh, which may keep the old one) and "expires_in".
struct TokenReply {
    // A token goes into an Authorization header and into the vault: only visible ASCII, and not longer
    // than any token endpoint issues.
    static constexpr size_t kMaxTokenBytes = 16 * 1024;

    std::string accessToken;
    std::optional<std::string> refreshToken;
    int32_t expiresIn = 0;  // seconds, truncated toward zero, kept inside the 32-bit range

    // Throws PlatformError (E_INVALIDARG) for a body that is not such an object: not JSON, a member
    // missing or of another type, a token that is empty, too long or holds anything but visible ASCII, an
    // "expires_in" that is no finite number; and, with `requireRefreshToken`, no "refresh_token".
    static TokenReply Parse(std::string_view body, bool requireRefreshToken);

    static bool IsAcceptableToken(std::string_view token);
};

}  // namespace utils
