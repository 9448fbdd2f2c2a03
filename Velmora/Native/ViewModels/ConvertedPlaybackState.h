#pragma once

#include <cstdint>

#include "Velmora/Native/ViewModels/CorvanaActionsInfo.h"
#include "Velmora/Native/ViewModels/CorvanaCurrentTrackInfo.h"
#include "Velmora/Native/ViewModels/PlaybackPresentation.h"
#include "VelmoraUtils/DesktopApiTypes.h"

namespace velmora {

// A desktop playback state turned into what the widget view model applies on the UI thread. Converted on
// the thread that raised the event, so that the position estimate is taken as close to arrival as can be.
struct ConvertedPlaybackState {
    bool IsAdvertisement = false;
    bool HasContext = false;
    CorvanaActionsInfo Actions;
    // What the restrictions alone allow, whatever the context: a player without a Corvana account has no
    // context, and its restrictions say all there is to say.
    CorvanaActionsInfo PlayerActions;
    CorvanaCurrentTrackInfo Track;
    // The repeat mode, with what the restrictions alone allow of it.
    presentation::RepeatState PlayerRepeat;
    double Volume = 0;  // a fraction of full volume

    // `nowMs` is the current time in milliseconds since the Unix epoch. Throws E_INVALIDARG when the
    // position has to be estimated from a `timestamp` that is not a decimal 64-bit integer.
    static ConvertedPlaybackState From(const desktop_api_types::PlaybackStateResponse& state, int64_t nowMs);
    static int64_t NowMs();
};

}  // namespace velmora
