#pragma once

#include <string>

namespace platform {

// An advisory lock shared by every process of the user: flock on a file, so the kernel releases it when
// its holder exits or dies. Two objects on the same path exclude each other within one process too.
class FileLock {
public:
    explicit FileLock(std::string path) : path_(std::move(path)) {}
    ~FileLock() { Unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock without waiting: true when this object holds it now, false while another holder
    // has it. Creates the file and its folders (private to the user) when missing; throws PlatformError
    // when that fails.
    bool TryLock();
    void Unlock();
    bool IsHeld() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace platform
