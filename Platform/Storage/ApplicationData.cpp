#include "Platform/Storage/ApplicationData.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "Platform/Storage/LocalSettings.h"

#ifndef VELMORA_DEFAULT_INSTALLED_LOCATION
#define VELMORA_DEFAULT_INSTALLED_LOCATION "."
#endif
#ifndef VELMORA_DATA_DIR_FROM_BIN
#define VELMORA_DATA_DIR_FROM_BIN "../share/velmora"
#endif

namespace platform {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

}  // namespace

std::string HomeFolder() {
    std::string home = Environment("HOME");
    if (!home.empty() && home.front() == '/') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int error;
    while ((error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (error || !found || !found->pw_dir || found->pw_dir[0] != '/') return {};
    return found->pw_dir;
}

std::string JoinPath(std::string base, std::string_view component) {
    if (base.empty() || base.back() != '/') base += '/';
    base += component;
    return base;
}

namespace {

// An XDG variable counts only when it holds an absolute path; otherwise the default under the home folder
// applies. Without HOME that is the password database's home: a folder under /tmp would be one every user
// of the machine can make first, and so own.
std::string XdgFolder(const char* variable, const char* fallbackUnderHome) {
    std::string value = Environment(variable);
    if (!value.empty() && value.front() == '/') return value;
    std::string home = HomeFolder();
    if (home.empty()) {
        home = "/tmp/velmora-" + std::to_string(::getuid());
        std::fprintf(stderr, "ApplicationData: no home folder; keeping the data under %s\n", home.c_str());
    }
    return JoinPath(home, fallbackUnderHome);
}

}  // namespace

ApplicationData& ApplicationData::Current() {
    static ApplicationData data;
    return data;
}

std::string ApplicationData::LocalFolder() const {
    return JoinPath(XdgFolder("XDG_DATA_HOME", ".local/share"), "velmora");
}

std::string ApplicationData::LocalCacheFolder() const {
    return JoinPath(XdgFolder("XDG_CACHE_HOME", ".cache"), "velmora");
}

platform::LocalSettings& ApplicationData::LocalSettings() {
    // One object per settings file, so that every writer in the process shares its lock.
    static platform::LocalSettings settings(JoinPath(LocalFolder(), "settings.json"));
    return settings;
}

std::string Package::InstalledLocation() {
    std::string configured = Environment("VELMORA_INSTALLED_LOCATION");
    if (!configured.empty()) return configured;
    // An installed program finds its data relative to itself, wherever the prefix is; a program in the
    // build tree has no such folder beside it and uses the build tree's.
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        auto installed = (executable.parent_path() / VELMORA_DATA_DIR_FROM_BIN).lexically_normal();
        if (std::filesystem::is_directory(installed, error)) return installed.string();
    }
    return VELMORA_DEFAULT_INSTALLED_LOCATION;
}

}  // namespace platform
