#include "Velmora/Autostart.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "Platform/Storage/ApplicationData.h"
#include "Platform/Storage/ReplaceFile.h"

namespace velmora {

namespace {

// A path goes into Exec as a desktop entry reader takes it apart: first quoted as one argument (inside the
// quotes ", `, $ and \ take a backslash), then written as the key's string value (where a backslash, a
// newline, a tab and a carriage return are escapes of their own), with a literal % doubled so that no
// reader expands it as a field code ("%f" in a folder's name would otherwise become the files opened).
std::string ExecQuoted(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string written;
    for (char c : quoted) {
        switch (c) {
            case '\\':
                written += "\\\\";
                break;
            case '\n':
                written += "\\n";
                break;
            case '\t':
                written += "\\t";
                break;
            case '\r':
                written += "\\r";
                break;
            case '%':
                written += "%%";
                break;
            default:
                written += c;
        }
    }
    return written;
}

}  // namespace

std::string Autostart::EntryPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config && *config == '/') {
        folder = config;
    } else {
        // Without a home the entry would land in /.config, where no session looks.
        const std::string home = platform::HomeFolder();
        if (home.empty()) return {};
        folder = platform::JoinPath(home, ".config");
    }
    return platform::JoinPath(folder, "autostart/") + kFileName;
}

std::string Autostart::Entry(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Velmora\n"
           "Comment=Starts the Velmora overlay hidden, so that its shortcut shows it\n"
           "Exec=" +
           ExecQuoted(program) +
           " --hidden ms-gamebarwidget:launch\n"
           "Icon=org.velmora.Velmora\n"
           "NoDisplay=true\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string Autostart::Set(bool on, const std::string& program) {
    namespace fs = std::filesystem;
    const std::string entry = EntryPath();
    if (entry.empty())
        return "no folder for the autostart entry: neither XDG_CONFIG_HOME nor HOME is set, and the "
               "password database gives this user no home";
    const fs::path path = entry;
    std::error_code error;
    if (!on) {
        fs::remove(path, error);
        if (error) return "cannot remove " + path.string() + ": " + error.message();
        return {};
    }
    if (program.empty() || program[0] != '/') return "the program's own path is unknown";
    fs::create_directories(path.parent_path(), error);
    if (error) return "cannot make " + path.parent_path().string() + ": " + error.message();
    // Written beside and renamed, so that a session starting meanwhile never reads half an entry, and
    // flushed first, so that a power cut never leaves an empty one that the next login skips.
    return platform::ReplaceFile(entry, Entry(program), 0666);
}

std::string Autostart::RunningProgram() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

}  // namespace velmora
