#pragma once

#include <chrono>
#include <string>

namespace platform {

struct PasswordCredential {
    std::string resource;
    std::string userName;
    std::string password;
};

// The user's credential vault: the Secret Service (gnome-keyring, KWallet) through libsecret, under the
// schema "org.velmora.Credential" with the attributes "resource" and "username". Every call is bounded in
// time: a vault that is absent, locked or wants to prompt fails instead of hanging.
class PasswordVault {
public:
    PasswordVault() = default;

    // Throws PlatformError(E_NOTFOUND) when there is no such credential, E_ACCESSDENIED when it is there
    // but its collection stays locked (the Secret Service is asked to unlock it first, which prompts the
    // user on a desktop), another code when the vault fails.
    PasswordCredential Retrieve(const std::string& resource, const std::string& userName) const;
    // Stores the credential, replacing in place one with the same resource and user name: a reader never
    // finds it missing meanwhile.
    void Add(const PasswordCredential& credential) const;
    void Remove(const PasswordCredential& credential) const;

    static void SetCallTimeout(std::chrono::milliseconds timeout);
};

}  // namespace platform
