#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>

namespace velmora {

// What the desktop app allows right now; all false without a playback context.
struct CorvanaActionsInfo {
    Q_GADGET
    QML_ANONYMOUS
    Q_PROPERTY(bool CanResume MEMBER CanResume)
    Q_PROPERTY(bool CanPause MEMBER CanPause)
    Q_PROPERTY(bool CanSeek MEMBER CanSeek)
    Q_PROPERTY(bool CanSkipPrevious MEMBER CanSkipPrevious)
    Q_PROPERTY(bool CanSkipNext MEMBER CanSkipNext)
    Q_PROPERTY(bool CanToggleShuffle MEMBER CanToggleShuffle)

public:
    bool CanResume = false;
    bool CanPause = false;
    bool CanSeek = false;
    bool CanSkipPrevious = false;
    bool CanSkipNext = false;
    bool CanToggleShuffle = false;

    bool operator==(const CorvanaActionsInfo&) const = default;
};

}  // namespace velmora
