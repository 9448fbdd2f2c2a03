#pragma once

#include <string>

#include "Velmora/Native/ViewModels/CorvanaViewItem.h"

namespace velmora {

// The now-playing part of one playback state, ready for the UI thread.
struct CorvanaCurrentTrackInfo {
    bool HasTrack = false;
    std::string Name;
    std::string Artist;
    std::string Album;  // for an episode: the show
    std::string ImageUrl;
    std::string Id;  // the uri without its "corvana:track:" or "corvana:episode:" prefix
    std::string Uri;
    CorvanaViewItemKind Kind = CorvanaViewItemKind::Unknown;  // Track, Episode or Unknown
    bool IsPlaying = false;
    bool IsShuffling = false;
    bool IsInLibrary = false;
    bool CanAddToLibrary = false;
    double DurationMs = 0;
    double PositionMs = 0;  // estimated for the moment of conversion
};

}  // namespace velmora
