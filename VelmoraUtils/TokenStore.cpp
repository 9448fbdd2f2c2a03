#include "VelmoraUtils/TokenStore.h"

#include "Platform/Security/PasswordVault.h"

namespace utils {

std::optional<std::string> TokenStore::ReadCredential(const std::string& userName) {
    try {
        platform::PasswordVault vault;
        return vault.Retrieve(kResource, userName).password;
    } catch (...) {
        return std::nullopt;
    }
}

bool TokenStore::SaveCredentials(const std::map<std::string, std::string>& entries) {
    for (const auto& [userName, password] : entries) {
        try {
            platform::PasswordVault vault;
            // Replace by removal and addition, so the save succeeds whether or not the entry existed.
            try {
                vault.Remove(vault.Retrieve(kResource, userName));
            } catch (...) {
            }
            vault.Add({kResource, userName, password});
        } catch (...) {
            return false;
        }
    }
    return true;
}

}  // namespace utils
