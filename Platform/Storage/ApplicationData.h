#pragma once

#include <string>

namespace platform {

class LocalSettings;

// The app's per-user folders, resolved from the XDG base-directory variables when first asked for:
// LocalFolder = $XDG_DATA_HOME/velmora, LocalCacheFolder = $XDG_CACHE_HOME/velmora (with the XDG
// defaults under $HOME). Folders are not created here; whoever writes into one creates it.
class ApplicationData {
public:
    static ApplicationData& Current();

    std::string LocalFolder() const;
    std::string LocalCacheFolder() const;
    // The settings file lives in LocalFolder.
    platform::LocalSettings& LocalSettings();

private:
    ApplicationData() = default;
};

// The package the app runs from.
class Package {
public:
    // The folder that holds the packaged data (ui/, markup, strings): VELMORA_INSTALLED_LOCATION when set,
    // else the folder the build or the install put them in.
    static std::string InstalledLocation();
    static std::string FamilyName() { return "Velmora"; }
};

// The user's home folder: $HOME when it holds an absolute path, else the one the password database gives
// the user (a session started without HOME, as some service managers do), else empty.
std::string HomeFolder();

// Joins path components with '/', adding none where the left side already ends in one.
std::string JoinPath(std::string base, std::string_view component);

}  // namespace platform
