#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace framework {

// The packaged string table: a JSON object of key -> text under InstalledLocation/Native/Strings, one file
// per locale ("en-US.json"). The locale of the environment is used when its file exists, else en-US.
class ResourceLoader {
public:
    static constexpr const char* kDefaultLocale = "en-US";

    // Loads the table for the environment's locale; an unreadable or malformed file gives an empty table
    // and one line on standard error.
    static ResourceLoader ForCurrentLocale();
    // For tests and tools: a table given in full.
    explicit ResourceLoader(std::map<std::string, std::string, std::less<>> table)
        : table_(std::move(table)) {}

    std::optional<std::string> GetString(std::string_view key) const;
    const std::string& Source() const { return source_; }

    static std::string StringsFolder();

private:
    ResourceLoader() = default;
    static std::map<std::string, std::string, std::less<>> LoadFile(const std::string& path);

    std::map<std::string, std::string, std::less<>> table_;
    std::string source_;
};

}  // namespace framework
