#include "Velmora/ModeCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "Platform/Storage/ApplicationData.h"
#include "Velmora/PageTypes.h"
#include "VelmoraUtils/FileDescriptor.h"

namespace velmora {

namespace {

using utils::FileDescriptor;

constexpr std::string_view kWebViewMode = "web_view";

}  // namespace

std::string ModeFilePath() {
    using platform::JoinPath;
    return JoinPath(
        JoinPath(JoinPath(platform::ApplicationData::Current().LocalFolder(), "Corvana"), "Gamebar"),
        "widget_mode.txt");
}

bool IsWebViewModeFile(const std::string& path) {
    // Non-blocking, so that a pipe put in the file's place cannot hold the activation up.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) return false;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;

    // The longest first line that can still select the web view is "web_view\r\n".
    char head[kWebViewMode.size() + 2];
    size_t length = 0;
    while (length < sizeof head) {
        ssize_t got = ::read(file.get(), head + length, sizeof head - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        length += static_cast<size_t>(got);
    }
    std::string_view text(head, length);
    size_t lineFeed = text.find('\n');
    if (lineFeed == std::string_view::npos) {
        // A first line without its end: the whole file, if it is short enough to be one.
        return length < sizeof head && text == kWebViewMode;
    }
    std::string_view line = text.substr(0, lineFeed);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line == kWebViewMode;
}

const char* ChosenPageType() {
    try {
        return IsWebViewModeFile(ModeFilePath()) ? kWebViewPageType : kNativePageType;
    } catch (...) {
        return kNativePageType;
    }
}

}  // namespace velmora
