#include "Platform/GameBar/KeyCombination.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

struct NamedKey {
    const char* name;  // lower case
    const char* shown;
    uint32_t keysym;
};

constexpr std::array kNamedKeys{
    NamedKey{"space", "Space", 0x0020},   NamedKey{"tab", "Tab", 0xff09},
    NamedKey{"return", "Return", 0xff0d}, NamedKey{"enter", "Return", 0xff0d},
    NamedKey{"escape", "Escape", 0xff1b}, NamedKey{"esc", "Escape", 0xff1b},
    NamedKey{"insert", "Insert", 0xff63}, NamedKey{"delete", "Delete", 0xffff},
    NamedKey{"home", "Home", 0xff50},     NamedKey{"end", "End", 0xff57},
    NamedKey{"pageup", "PageUp", 0xff55}, NamedKey{"pagedown", "PageDown", 0xff56},
    NamedKey{"left", "Left", 0xff51},     NamedKey{"up", "Up", 0xff52},
    NamedKey{"right", "Right", 0xff53},   NamedKey{"down", "Down", 0xff54},
    NamedKey{"pause", "Pause", 0xff13},   NamedKey{"print", "Print", 0xff61},
};

constexpr uint32_t kF1 = 0xffbe;

// Keys every program types or moves with: alone (or with Shift) a grab would take them from all of them.
bool IsTypingKey(uint32_t keysym) {
    if (keysym < 0x80) return true;  // letters, digits, Space
    switch (keysym) {
        case 0xff09:  // Tab
        case 0xff0d:  // Return
        case 0xff1b:  // Escape
        case 0xff63:  // Insert
        case 0xffff:  // Delete
        case 0xff50:  // Home
        case 0xff57:  // End
        case 0xff55:  // PageUp
        case 0xff56:  // PageDown
        case 0xff51:  // Left
        case 0xff52:  // Up
        case 0xff53:  // Right
        case 0xff54:  // Down
            return true;
        default:
            return false;
    }
}

// A part of the settings file as it may appear in a log line: the file is anybody's text, so control
// characters (a terminal's escape sequences among them) are shown as '?' and a long text is cut.
std::string Quoted(const std::string& text) {
    constexpr size_t kShown = 64;
    std::string shown;
    for (unsigned char c : text.substr(0, kShown))
        shown += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
    if (text.size() > kShown) shown += "...";
    return "\"" + shown + "\"";
}

std::optional<uint32_t> KeysymOf(const std::string& name) {
    std::string lower = Lower(name);
    if (lower.size() == 1 && (std::isalpha(static_cast<unsigned char>(lower[0])) ||
                              std::isdigit(static_cast<unsigned char>(lower[0])))) {
        return static_cast<uint32_t>(lower[0]);
    }
    if (lower.size() >= 2 && lower.size() <= 3 && lower[0] == 'f' &&
        std::all_of(lower.begin() + 1, lower.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        int number = std::stoi(lower.substr(1));
        if (number >= 1 && number <= 24 && lower[1] != '0') return kF1 + static_cast<uint32_t>(number - 1);
        return std::nullopt;
    }
    for (const auto& key : kNamedKeys) {
        if (lower == key.name) return key.keysym;
    }
    return std::nullopt;
}

std::optional<uint16_t> ModifierOf(const std::string& name) {
    std::string lower = Lower(name);
    if (lower == "super" || lower == "meta" || lower == "win") return KeyCombination::kSuper;
    if (lower == "alt") return KeyCombination::kAlt;
    if (lower == "ctrl" || lower == "control") return KeyCombination::kControl;
    if (lower == "shift") return KeyCombination::kShift;
    return std::nullopt;
}

}  // namespace

std::variant<KeyCombination, std::string> KeyCombination::Parse(const std::string& text) {
    if (Trim(text).empty()) return std::string("the shortcut is empty");
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t plus = text.find('+', start);
        parts.push_back(
            Trim(text.substr(start, plus == std::string::npos ? std::string::npos : plus - start)));
        if (plus == std::string::npos) break;
        start = plus + 1;
    }
    KeyCombination combination;
    bool haveKey = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part.empty()) return Quoted(text) + " has an empty part (two \"+\" in a row, or one at an end)";
        if (i + 1 < parts.size()) {
            auto modifier = ModifierOf(part);
            if (!modifier) return Quoted(part) + " is no modifier (Super, Alt, Ctrl, Shift)";
            if (combination.modifiers & *modifier) return Quoted(part) + " is given twice";
            combination.modifiers |= *modifier;
        } else {
            if (ModifierOf(part)) return Quoted(text) + " has no key after its modifiers";
            auto keysym = KeysymOf(part);
            if (!keysym) return Quoted(part) + " is no key this shortcut can use";
            combination.keysym = *keysym;
            haveKey = true;
        }
    }
    if (!haveKey) return Quoted(text) + " has no key";
    if (IsTypingKey(combination.keysym) && (combination.modifiers & ~kShift) == 0) {
        return Quoted(text) + " needs Super, Alt or Ctrl: alone it would take the key from every program";
    }
    return combination;
}

std::string KeyCombination::ToString() const {
    std::string text;
    auto add = [&](const char* part) {
        if (!text.empty()) text += '+';
        text += part;
    };
    if (modifiers & kSuper) add("Super");
    if (modifiers & kControl) add("Ctrl");
    if (modifiers & kAlt) add("Alt");
    if (modifiers & kShift) add("Shift");
    if (keysym < 0x80 && std::isalnum(static_cast<int>(keysym))) {
        add(std::string(1, static_cast<char>(std::toupper(static_cast<int>(keysym)))).c_str());
    } else if (keysym >= kF1 && keysym < kF1 + 24) {
        add(("F" + std::to_string(keysym - kF1 + 1)).c_str());
    } else {
        for (const auto& key : kNamedKeys) {
            if (key.keysym == keysym) {
                add(key.shown);
                break;
            }
        }
    }
    return text;
}

}  // namespace platform
