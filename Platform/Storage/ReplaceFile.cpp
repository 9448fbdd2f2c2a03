#include "Platform/Storage/ReplaceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

std::string Failure(const char* what, const std::string& path, int error) {
    return std::string(what) + " " + path + ": " + std::strerror(error);
}

// A short write without an error (a full disk reports it so) counts as one.
int WriteWhole(int fd, std::string_view text) {
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        written += static_cast<size_t>(n);
    }
    return 0;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string ReplaceFile(const std::string& path, std::string_view contents, mode_t mode,
                        const std::string& keepReplacedAs) {
    const std::string temporary = path + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return Failure("cannot write", temporary, errno);
    int error = WriteWhole(fd, contents);
    // Without the fsync a power cut soon after the rename can leave the new name on an empty file.
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (error) {
        std::remove(temporary.c_str());
        return Failure("cannot write", temporary, error);
    }
    if (!keepReplacedAs.empty()) std::rename(path.c_str(), keepReplacedAs.c_str());
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        std::remove(temporary.c_str());
        return Failure("cannot replace", path, error);
    }
    // The new file is in place either way; a folder that cannot be flushed (some file systems refuse)
    // only makes the change less certain to outlive a power cut, which is no reason to report it undone.
    int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return {};
}

}  // namespace platform
