#include "VelmoraUtils/TokenStore.h"

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Security/PasswordVault.h"

namespace utils {

StoredCredential TokenStore::Read(const std::string& userName) {
    try {
        platform::PasswordVault vault;
        return {StoredCredential::State::Found, vault.Retrieve(kResource, userName).password};
    } catch (const platform::PlatformError& error) {
        if (error.code() == platform::E_NOTFOUND) return {StoredCredential::State::Missing, {}};
        if (error.code() == platform::E_ACCESSDENIED) return {StoredCredential::State::Locked, {}};
    } catch (...) {
    }
    return {StoredCredential::State::Unavailable, {}};
}

std::optional<std::string> TokenStore::ReadCredential(const std::string& userName) {
    StoredCredential stored = Read(userName);
    if (!stored.found()) return std::nullopt;
    return std::move(stored.password);
}

bool TokenStore::SaveCredentials(const std::map<std::string, std::string>& entries) {
    for (const auto& [userName, password] : entries) {
        try {
            // The Secret Service replaces an item with the same attributes in place. Removing it first
            // would leave a moment in which a reader (another process signing in) finds no token at all.
            platform::PasswordVault().Add({kResource, userName, password});
        } catch (...) {
            return false;
        }
    }
    return true;
}

}  // namespace utils
