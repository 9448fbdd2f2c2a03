#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace platform {

// A global shortcut as a player writes it in the settings file: modifiers and one key joined by "+",
// case-insensitive, e.g. "Super+Alt+M", "Ctrl+Shift+F9", "Super+Space". Modifiers: Super (or Meta, Win),
// Alt, Ctrl (or Control), Shift. Keys: a letter, a digit, F1 to F24, and Space, Tab, Return (Enter),
// Escape (Esc), Insert, Delete, Home, End, PageUp, PageDown, Left, Right, Up, Down, Pause, Print. No Qt and
// no X11: the keysym and modifier mask are X11's values, which the X11 grab uses as they are.
struct KeyCombination {
    // X11 modifier masks.
    static constexpr uint16_t kShift = 1 << 0;
    static constexpr uint16_t kControl = 1 << 2;
    static constexpr uint16_t kAlt = 1 << 3;      // Mod1
    static constexpr uint16_t kNumLock = 1 << 4;  // Mod2
    static constexpr uint16_t kCapsLock = 1 << 1;
    static constexpr uint16_t kSuper = 1 << 6;  // Mod4

    uint32_t keysym = 0;     // X11 keysym of the key (lower case for letters)
    uint16_t modifiers = 0;  // the masks above

    // The combination, or why the text is none (empty, an unknown modifier or key, no key, two keys, no
    // modifier but Shift for a key every program types or moves with, which the grab would take from all of
    // them). The texts quote the settings file's own text with its control characters shown as '?'.
    static std::variant<KeyCombination, std::string> Parse(const std::string& text);
    // Written back in the form Parse reads, modifiers in a fixed order ("Super+Alt+M").
    std::string ToString() const;

    bool operator==(const KeyCombination&) const = default;
};

}  // namespace platform
