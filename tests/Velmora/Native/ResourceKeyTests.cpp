// The strings table against the code and markup that look strings up: every key used exists, and every key
// of the table is used.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The string literals of every call to `function` in `text`, up to the end of its statement or binding:
// GetString("A"), GetString(flag ? "A" : "B"), ResourceStringConverter("", "A").
std::set<std::string> KeysIn(const std::string& text, const std::string& function) {
    static const std::regex kLiteral(R"re("([^"\\]*)")re");
    std::set<std::string> keys;
    for (size_t at = text.find(function + "("); at != std::string::npos;
         at = text.find(function + "(", at + 1)) {
        size_t end = text.find_first_of(";\n", at);
        std::string call = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        // A call may continue on the next line when the line ends inside its parentheses.
        while (end != std::string::npos &&
               std::count(call.begin(), call.end(), '(') > std::count(call.begin(), call.end(), ')')) {
            size_t next = text.find_first_of(";\n", end + 1);
            call = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
            end = next;
        }
        for (std::sregex_iterator it(call.begin(), call.end(), kLiteral), last; it != last; ++it) {
            if (!(*it)[1].str().empty()) keys.insert((*it)[1].str());
        }
    }
    return keys;
}

}  // namespace

TEST(ResourceStrings, EveryKeyTheCodeAndMarkupUseIsInTheTableAndNoOther) {
    const fs::path root = fs::path(VELMORA_SOURCE_DIR) / "Velmora" / "Native";
    std::set<std::string> used;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string extension = entry.path().extension().string();
        if (extension != ".qml" && extension != ".cpp" && extension != ".h") continue;
        ++files;
        std::string text = Read(entry.path());
        for (const char* function : {"GetString", "ResourceStringConverter", "StringKey"}) {
            for (const auto& key : KeysIn(text, function)) used.insert(key);
        }
    }
    ASSERT_GT(files, 20);
    // The lookups the page and the view models are known to make are among those found.
    for (const char* key :
         {"CorvanaNext_ButtonNarratorText", "CorvanaPause_ButtonNarratorText",
          "CorvanaRemoveFromLibrary_ButtonNarratorNext", "CollapseWidget_ButtonNarratorText"}) {
        EXPECT_TRUE(used.count(key)) << key;
    }

    auto table = nlohmann::json::parse(Read(root / "Strings" / "en-US.json"));
    std::set<std::string> keys;
    for (const auto& [key, text] : table.items()) {
        keys.insert(key);
        EXPECT_TRUE(text.is_string() && !text.get<std::string>().empty()) << key;
    }
    for (const auto& key : used) EXPECT_TRUE(keys.count(key)) << "missing from the table: " << key;
    for (const auto& key : keys) EXPECT_TRUE(used.count(key)) << "not used anywhere: " << key;
}
