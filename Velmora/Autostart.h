#pragma once

#include <string>

namespace velmora {

// The XDG autostart entry that starts velmora at login, hidden, so that its global shortcut works from
// then on: $XDG_CONFIG_HOME/autostart/org.velmora.Velmora.desktop (default ~/.config/autostart). Off by
// default. No Qt.
class Autostart {
public:
    static constexpr const char* kFileName = "org.velmora.Velmora.desktop";

    static std::string EntryPath();
    // The entry for the program at `program` (an absolute path): `velmora --hidden ms-gamebarwidget:launch`.
    static std::string Entry(const std::string& program);
    // Writes (on) or removes (off) the entry; the error as text, empty on success. Removing an entry that
    // is not there succeeds.
    static std::string Set(bool on, const std::string& program);
    // The absolute path of the running program (/proc/self/exe), empty when unknown.
    static std::string RunningProgram();
};

}  // namespace velmora
