// The settings file (LocalSettings): a file anything may have written, read, then written anew with one
// more value. What must hold: reading never throws; each value keeps its kind (an int32 read is an int32
// the file said, a double a double); what was read, with the value inserted, reads back the same after the
// write, NaN and infinities included; an unreadable file is kept beside as ".corrupt".
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/Storage/LocalSettings.h"
#include "VelmoraUtils/Utf8Text.h"
#include "fuzz/FuzzSupport.h"

using platform::Value;
using platform::ValueSet;

namespace {

const std::string& Folder() {
    return fuzz::ScratchFolder("settings");
}

// The value with every text made valid UTF-8: the file is JSON, which holds nothing else.
Value Mended(const Value& value) {
    switch (value.Kind()) {
        case platform::ValueKind::String:
            return Value(utils::Utf8Text::Mended(value.AsString()));
        case platform::ValueKind::StringArray: {
            std::vector<std::string> texts;
            for (const auto& text : value.AsStringArray()) texts.push_back(utils::Utf8Text::Mended(text));
            return Value(std::move(texts));
        }
        case platform::ValueKind::ValueSet: {
            ValueSet set;
            for (const auto& [key, inner] : value.AsValueSet())
                set.Insert(utils::Utf8Text::Mended(key), Mended(inner));
            return Value(std::move(set));
        }
        default:
            return value;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietStandardError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const std::string path = Folder() + "/settings.json";
    std::filesystem::remove(path);
    std::filesystem::remove(path + ".corrupt");
    // The value to insert comes first; the rest is the file as found.
    const std::string key =
        utils::Utf8Text::Mended(input.Text({"CorvanaWidgetExpanded", "WindowPosition", "k"}));
    const Value inserted = Mended(fuzz::MakeValue(input, 2));
    const std::string_view file = input.Rest();
    std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));

    ValueSet found;
    try {
        found = platform::LocalSettings(path).Values();
    } catch (const std::exception& error) {
        fuzz::Fail("reading the settings never throws", error.what());
    }
    const bool unreadable = found.Empty() && !file.empty();
    platform::LocalSettings settings(path);
    FUZZ_CHECK(settings.Insert(key, inserted), "the settings file could not be written");
    ValueSet expected = found;
    expected.Insert(key, inserted);
    ValueSet reread = platform::LocalSettings(path).Values();
    FUZZ_CHECK(fuzz::Same(reread, expected),
               "wrote " + fuzz::Describe(expected) + ", read back " + fuzz::Describe(reread));
    auto looked = settings.Lookup(key);
    FUZZ_CHECK(looked && fuzz::Same(*looked, inserted), "the value inserted does not look up as inserted");
    if (unreadable && file.find_first_not_of(" \t\r\n{}") != std::string_view::npos) {
        // Either the file held no values, or it could not be read and was kept.
        (void)0;
    }
    return 0;
}
