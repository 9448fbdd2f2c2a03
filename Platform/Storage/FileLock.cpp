#include "Platform/Storage/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Platform/Foundation/PlatformError.h"

namespace platform {

bool FileLock::TryLock() {
    if (fd_ >= 0) return true;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, error)) {
        std::filesystem::create_directories(folder, error);
        if (!error) std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    }
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw PlatformError(E_FAIL, "cannot open the lock file " + path_ + ": " + std::strerror(errno));
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int lockError = errno;
        ::close(fd);
        if (lockError == EWOULDBLOCK) return false;
        throw PlatformError(E_FAIL, "cannot lock " + path_ + ": " + std::strerror(lockError));
    }
    fd_ = fd;
    return true;
}

void FileLock::Unlock() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the only descriptor releases the lock
    fd_ = -1;
}

}  // namespace platform
