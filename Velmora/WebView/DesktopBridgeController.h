#pragma once

#include <memory>

#include "Velmora/WebView/IBridgeController.h"

namespace velmora {

// The page's commands sent through its desktop controller.
class DesktopBridgeController final : public IBridgeController {
public:
    explicit DesktopBridgeController(std::shared_ptr<utils::DesktopAPIController> controller);

    void ModifyPlaybackState(utils::PlaybackAction action, std::string context) override;
    void Seek(int32_t positionMs, bool relative) override;
    void SetRepeat(std::string mode) override;
    void SetShuffle(bool on) override;
    void SetVolume(double volume) override;
    void LikeTrack(std::string uri) override;
    void UnlikeTrack(std::string uri) override;
    void TransferPlayback(std::string deviceId) override;
    void RequestDevices() override;
    void RequestPlaybackState() override;

private:
    const std::shared_ptr<utils::DesktopAPIController> controller_;
};

}  // namespace velmora
