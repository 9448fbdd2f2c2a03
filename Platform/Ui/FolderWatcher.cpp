#include "Platform/Ui/FolderWatcher.h"

#include <QDir>
#include <QFileInfo>

namespace platform {

FolderWatcher::FolderWatcher(QString folder, std::function<void()> onChanged)
    : folder_(QDir::cleanPath(QFileInfo(folder).absoluteFilePath())), onChanged_(std::move(onChanged)) {
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &watcher_,
                     [this](const QString& path) {
                         const bool back = Arm();
                         // A change above the folder (a sibling written) is none of the caller's business.
                         if ((path == folder_ || back) && onChanged_) onChanged_();
                     });
    Arm();
}

bool FolderWatcher::Arm() {
    // The watch of a folder that went away is gone already.
    const bool wasWatched = watched_ == folder_ && watcher_.directories().contains(folder_);
    QString target = folder_;
    // A folder may go between the look and the watch: the one above it is tried then.
    while (!watcher_.directories().contains(target) &&
           !(QFileInfo(target).isDir() && watcher_.addPath(target))) {
        const QString above = QFileInfo(target).path();
        if (above == target) {
            target.clear();  // not even the root: nothing to watch
            break;
        }
        target = above;
    }
    if (!watched_.isEmpty() && watched_ != target && watcher_.directories().contains(watched_))
        watcher_.removePath(watched_);
    watched_ = target;
    return target == folder_ && !wasWatched;
}

}  // namespace platform
