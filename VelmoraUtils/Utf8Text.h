#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace utils {

// UTF-8 as the texts of the desktop app and the web API must be before they are shown or sent on: every
// code point encoded in its shortest form, none a surrogate or beyond U+10FFFF.
class Utf8Text {
public:
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

    static bool IsValid(std::string_view text);
    // The text with each ill-formed sequence (the longest start of one that could still have been valid,
    // or a single byte) replaced by U+FFFD; every valid code point stays as it was.
    static std::string Mended(std::string_view text);
    // The first `maxCodePoints` code points of a valid text (all of it when it has no more).
    static std::string_view Prefix(std::string_view text, size_t maxCodePoints);
};

}  // namespace utils
