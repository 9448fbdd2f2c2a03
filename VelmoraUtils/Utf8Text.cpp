#include "VelmoraUtils/Utf8Text.h"

namespace utils {

namespace {

// The length of the valid code point at the start of `text`, or 0; on 0, `consumed` is how many bytes
// form the start of a sequence that broke off (at least 1), which counts as one ill-formed sequence.
size_t CodePointAt(std::string_view text, size_t& consumed) {
    const auto lead = static_cast<unsigned char>(text[0]);
    consumed = 1;
    if (lead < 0x80) return 1;
    size_t length = 0;
    // The second byte's range depends on the lead, which rules out overlong forms, surrogates and code
    // points beyond U+10FFFF at the first byte where they show.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if (k >= text.size()) return 0;
        const auto next = static_cast<unsigned char>(text[k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
        consumed = k + 1;
    }
    return length;
}

}  // namespace

bool Utf8Text::IsValid(std::string_view text) {
    size_t consumed = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = CodePointAt(text.substr(i), consumed);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string Utf8Text::Mended(std::string_view text) {
    std::string mended;
    mended.reserve(text.size());
    size_t consumed = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = CodePointAt(text.substr(i), consumed);
        if (length == 0) {
            mended += kReplacement;
            i += consumed;
        } else {
            mended.append(text, i, length);
            i += length;
        }
    }
    return mended;
}

std::string_view Utf8Text::Prefix(std::string_view text, size_t maxCodePoints) {
    size_t codePoints = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // Each code point starts with a byte that is not a continuation byte.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && codePoints++ == maxCodePoints)
            return text.substr(0, i);
    }
    return text;
}

}  // namespace utils
