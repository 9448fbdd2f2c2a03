#include "Platform/Media/MprisProperties.h"

namespace platform {

namespace {

template <typename T>
void Take(std::optional<T>& known, const std::optional<T>& change) {
    if (change) known = change;
}

}  // namespace

void MprisProperties::Merge(const MprisProperties& change) {
    Take(identity, change.identity);
    Take(supportedUriSchemes, change.supportedUriSchemes);
    Take(playbackStatus, change.playbackStatus);
    Take(loopStatus, change.loopStatus);
    Take(rate, change.rate);
    Take(shuffle, change.shuffle);
    Take(metadata, change.metadata);
    Take(volume, change.volume);
    Take(positionUs, change.positionUs);
    Take(canGoNext, change.canGoNext);
    Take(canGoPrevious, change.canGoPrevious);
    Take(canPlay, change.canPlay);
    Take(canPause, change.canPause);
    Take(canSeek, change.canSeek);
    Take(canControl, change.canControl);
    problems.insert(problems.end(), change.problems.begin(), change.problems.end());
}

bool MprisProperties::Empty() const {
    return !identity && !supportedUriSchemes && !playbackStatus && !loopStatus && !rate && !shuffle &&
           !metadata && !volume && !positionUs && !canGoNext && !canGoPrevious && !canPlay && !canPause &&
           !canSeek && !canControl && problems.empty();
}

}  // namespace platform
