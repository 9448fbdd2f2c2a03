#include "Velmora/Autostart.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

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
        const char* home = std::getenv("HOME");
        folder = std::string(home ? home : "") + "/.config";
    }
    return folder + "/autostart/" + kFileName;
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
    const fs::path path = EntryPath();
    std::error_code error;
    if (!on) {
        fs::remove(path, error);
        if (error) return "cannot remove " + path.string() + ": " + error.message();
        return {};
    }
    if (program.empty() || program[0] != '/') return "the program's own path is unknown";
    fs::create_directories(path.parent_path(), error);
    if (error) return "cannot make " + path.parent_path().string() + ": " + error.message();
    // Written beside and renamed, so that a session starting meanwhile never reads half an entry.
    const fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << Entry(program);
        out.close();
        if (!out) return "cannot write " + temporary.string() + ": " + std::strerror(errno);
    }
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary);
        return "cannot write " + path.string() + ": " + error.message();
    }
    return {};
}

std::string Autostart::RunningProgram() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

}  // namespace velmora
