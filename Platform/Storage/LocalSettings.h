#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Foundation/ValueSet.h"

namespace platform {

// Typed values kept in one JSON file. Every change rereads the file, applies itself and writes the whole
// file anew (temporary file, fsync, rename) under a lock, so that a crash never leaves half a file and two
// writers of different keys, threads or processes, never lose each other's update. A file that cannot be
// read or parsed reads as empty and is reported on standard error; before it is replaced it is kept beside
// as ".corrupt" so that nothing is silently thrown away.
class LocalSettings {
public:
    explicit LocalSettings(std::string filePath);

    std::optional<Value> Lookup(std::string_view key) const;
    bool HasKey(std::string_view key) const { return Lookup(key).has_value(); }
    // Insert or replace. Returns false (and reports on standard error) when the file could not be written.
    bool Insert(std::string_view key, const Value& value);
    bool Remove(std::string_view key);
    ValueSet Values() const;

    const std::string& FilePath() const { return path_; }

private:
    ValueSet Load(bool* corrupt) const;
    bool Store(const ValueSet& values, bool replacingCorrupt);
    template <typename Change>
    bool Modify(Change change);

    std::string path_;
    mutable std::mutex mutex_;
};

}  // namespace platform
