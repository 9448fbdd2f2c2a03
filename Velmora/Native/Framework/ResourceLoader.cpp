#include "Velmora/Native/Framework/ResourceLoader.h"

#include <QLocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Platform/Storage/ApplicationData.h"

namespace framework {

std::string ResourceLoader::StringsFolder() {
    return platform::JoinPath(platform::Package::InstalledLocation(), "Native/Strings");
}

ResourceLoader ResourceLoader::ForCurrentLocale() {
    // QLocale names use an underscore ("de_DE"); the files are named by BCP 47 tag ("de-DE.json").
    std::string locale = QLocale::system().name().replace('_', '-').toStdString();
    std::string path = platform::JoinPath(StringsFolder(), locale + ".json");
    std::error_code error;
    if (locale.empty() || !std::filesystem::is_regular_file(path, error))
        path = platform::JoinPath(StringsFolder(), std::string(kDefaultLocale) + ".json");
    ResourceLoader loader;
    loader.source_ = path;
    loader.table_ = LoadFile(path);
    return loader;
}

std::map<std::string, std::string, std::less<>> ResourceLoader::LoadFile(const std::string& path) {
    std::map<std::string, std::string, std::less<>> table;
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json root = nlohmann::json::parse(text.str(), nullptr, false);
    if (!in || !root.is_object()) {
        std::fprintf(stderr, "ResourceLoader: cannot read the string table %s\n", path.c_str());
        return table;
    }
    for (const auto& [key, value] : root.items()) {
        if (value.is_string()) table.emplace(key, value.get<std::string>());
    }
    return table;
}

std::optional<std::string> ResourceLoader::GetString(std::string_view key) const {
    auto it = table_.find(key);
    if (it == table_.end()) return std::nullopt;
    return it->second;
}

}  // namespace framework
