#include "VelmoraUtils/LocalImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "VelmoraUtils/FileDescriptor.h"

namespace utils {

namespace {

std::optional<LocalImage> Refuse(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return std::nullopt;
}

}  // namespace

std::string LocalImageFile::ImageTypeOf(std::string_view bytes) {
    if (bytes.starts_with("\x89PNG\r\n\x1a\n")) return "image/png";
    if (bytes.starts_with("\xFF\xD8\xFF")) return "image/jpeg";
    if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a")) return "image/gif";
    if (bytes.size() >= 12 && bytes.starts_with("RIFF") && bytes.substr(8, 4) == "WEBP") return "image/webp";
    return {};
}

std::optional<LocalImage> LocalImageFile::Read(const std::string& path, size_t maxBytes, std::string* why) {
    if (path.empty() || path.front() != '/') return Refuse(why, "not an absolute path");
    // Looked at before it is opened: opening a device may do something of its own.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0)
        return Refuse(why, std::string("cannot read: ") + std::strerror(errno));
    if (!S_ISREG(before.st_mode)) return Refuse(why, "not a regular file");
    // Without O_NONBLOCK, a file swapped for a FIFO since the look would hold the open for ever.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return Refuse(why, std::string("cannot read: ") + std::strerror(errno));
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) return Refuse(why, "not a regular file");
    if (opened.st_size <= 0) return Refuse(why, "an empty file");
    if (static_cast<unsigned long long>(opened.st_size) > maxBytes) return Refuse(why, "larger than a cover");

    std::string bytes(static_cast<size_t>(opened.st_size), '\0');
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Refuse(why, std::string("cannot read: ") + std::strerror(errno));
        if (got == 0) break;  // shorter than it said: what is there is judged
        filled += static_cast<size_t>(got);
    }
    bytes.resize(filled);
    std::string type = ImageTypeOf(bytes);
    if (type.empty()) return Refuse(why, "not a picture");
    return LocalImage{std::move(bytes), std::move(type)};
}

}  // namespace utils
