#pragma once

#include <map>
#include <optional>
#include <string>

namespace utils {

// What the vault answered for one entry.
struct StoredCredential {
    enum class State {
        Found,
        Missing,      // nothing stored under that name
        Locked,       // stored, but the collection stayed locked (the user was asked to unlock it)
        Unavailable,  // no Secret Service, or it failed
    };
    State state = State::Missing;
    std::string password;  // when Found

    bool found() const { return state == State::Found; }
};

// The signed-in user's tokens in the credential vault, under the resource "XboxGameBarCorvana", one entry
// per user name (user key + "CorvanaAccessToken" or + "CorvanaRefreshToken"). Nothing is kept in memory;
// each call opens the vault afresh and may block for the vault's deadline, so callers run it on the
// blocking pool. Neither operation ever raises.
struct TokenStore {
    static constexpr const char* kResource = "XboxGameBarCorvana";

    static StoredCredential Read(const std::string& userName);
    // The password when one is stored and readable; empty otherwise.
    static std::optional<std::string> ReadCredential(const std::string& userName);
    // Writes every entry, replacing what was there in place; false as soon as one cannot be written
    // (entries written before stay written).
    static bool SaveCredentials(const std::map<std::string, std::string>& entries);
};

}  // namespace utils
