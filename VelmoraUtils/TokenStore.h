#pragma once

#include <map>
#include <optional>
#include <string>

namespace utils {

// The signed-in user's tokens in the credential vault, under the resource "XboxGameBarCorvana", one entry
// per user name (user key + "CorvanaAccessToken" or + "CorvanaRefreshToken"). Nothing is kept in memory;
// each call opens the vault afresh. Neither operation ever raises: a vault that cannot be used reads as
// empty and refuses saves.
struct TokenStore {
    static constexpr const char* kResource = "XboxGameBarCorvana";

    static std::optional<std::string> ReadCredential(const std::string& userName);
    // Writes every entry, replacing what was there; false as soon as one cannot be written (entries
    // written before stay written).
    static bool SaveCredentials(const std::map<std::string, std::string>& entries);
};

}  // namespace utils
