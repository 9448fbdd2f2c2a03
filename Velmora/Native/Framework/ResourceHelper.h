#pragma once

#include <QString>
#include <map>
#include <string>
#include <string_view>

namespace framework {

// Resource strings by key, for narrator texts and other texts of ours. The loader is created on first use
// and kept for the life of the process.
class ResourceHelper {
public:
    // The text for `key`. A key the table lacks is a failure: reported (E_POINTER), then thrown, so that the
    // operation that asked ends there.
    static QString GetString(std::string_view key);

    // Replaces the loader's table for the rest of the process (tests); an empty map returns to the
    // packaged table.
    static void UseTable(std::map<std::string, std::string, std::less<>> table);
};

}  // namespace framework
