#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace utils {

// The one local file a front end may show as a cover: the current playback state's. Players on the
// desktop name their covers with file:// URLs; a page that could load any file it is named would read
// whatever a player (or a feed) pointed it at, so only the file of the state shown now is served, and
// none once the state moves on. Only the playback state grants; nothing of the feed does.
//
// Thread-safe: playback states grant on the thread that converts them, the loaders ask on theirs.
class LocalCoverGrant {
public:
    // The current playback state's cover URL. A file:// URL of this machine is granted; anything else
    // (none, https) ends the grant. Returns the grant's number, which changes whenever the granted URL
    // does, or 0 when nothing is granted.
    uint64_t Follow(const std::string& imageUrl);
    // The granted file's path while `number` is the grant's.
    std::optional<std::string> PathOf(uint64_t number) const;
    // The granted file's path while `fileUrl` names the granted file (however it is escaped).
    std::optional<std::string> PathOfUrl(const std::string& fileUrl) const;

    // The absolute path a file:// URL of this machine names (no host, or "localhost"), percent-decoded;
    // none for any other URL, a query or fragment, a malformed escape or a NUL.
    static std::optional<std::string> FilePathOf(const std::string& url);

private:
    mutable std::mutex lock_;  // guards the fields below
    std::string url_;
    std::string path_;
    uint64_t number_ = 0;
    uint64_t lastNumber_ = 0;
};

}  // namespace utils
