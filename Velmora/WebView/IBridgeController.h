#pragma once

#include <cstdint>
#include <string>

#include "VelmoraUtils/DesktopAPIController.h"

namespace velmora {

// The desktop commands the page may start. Each is fire-and-forget: it reports its own failure in the log
// and the bridge neither waits for nor reports it. DesktopBridgeController sends them through the
// page's DesktopAPIController; tests record them.
class IBridgeController {
public:
    virtual ~IBridgeController() = default;

    virtual void ModifyPlaybackState(utils::PlaybackAction action, std::string context) = 0;
    virtual void Seek(int32_t positionMs, bool relative) = 0;
    virtual void SetRepeat(std::string mode) = 0;
    virtual void SetShuffle(bool on) = 0;
    virtual void SetVolume(double volume) = 0;
    virtual void LikeTrack(std::string uri) = 0;
    virtual void UnlikeTrack(std::string uri) = 0;
    virtual void TransferPlayback(std::string deviceId) = 0;
    virtual void RequestDevices() = 0;
    virtual void RequestPlaybackState() = 0;
};

}  // namespace velmora
