#pragma once

#include <QFileSystemWatcher>
#include <QString>
#include <functional>

namespace platform {

// Calls `onChanged` when anything in one folder changes (a file written, renamed into it or removed),
// including after the folder itself was removed and made again. The file system forgets a watch on a
// folder that goes away, so while it is missing the nearest folder above it that exists is watched
// instead, and the folder is watched again as soon as it is back, which counts as a change (whatever was
// written into it before the watch came back is news). A folder that does not exist at the start is
// watched from its return the same way. Calls come on the thread of the event loop, possibly several for
// one change: a caller that reads the folder again on each wants to gather them.
class FolderWatcher {
public:
    FolderWatcher(QString folder, std::function<void()> onChanged);
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    const QString& Folder() const { return folder_; }

private:
    // Watches the folder, or the nearest folder above it while it is missing; true when the folder is
    // watched now and was not before.
    bool Arm();

    QString folder_;
    std::function<void()> onChanged_;
    QFileSystemWatcher watcher_;
    QString watched_;  // the folder, the folder above it that stands in, or empty
};

}  // namespace platform
