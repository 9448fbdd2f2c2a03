#include "Velmora/WebView/DesktopBridgeController.h"

#include <utility>

#include "Platform/Foundation/PlatformError.h"

namespace velmora {

DesktopBridgeController::DesktopBridgeController(std::shared_ptr<utils::DesktopAPIController> controller)
    : controller_(std::move(controller)) {
    if (!controller_)
        throw platform::PlatformError(platform::E_POINTER, "DesktopBridgeController: no controller");
}

void DesktopBridgeController::ModifyPlaybackState(utils::PlaybackAction action, std::string context) {
    controller_->ModifyPlaybackState(action, std::move(context));
}

void DesktopBridgeController::Seek(int32_t positionMs, bool relative) {
    controller_->Seek(positionMs, relative);
}

void DesktopBridgeController::SetRepeat(std::string mode) {
    controller_->SetRepeat(std::move(mode));
}

void DesktopBridgeController::SetShuffle(bool on) {
    controller_->SetShuffle(on);
}

void DesktopBridgeController::SetVolume(double volume) {
    controller_->SetVolume(volume);
}

void DesktopBridgeController::LikeTrack(std::string uri) {
    controller_->LikeTrack(std::move(uri));
}

void DesktopBridgeController::UnlikeTrack(std::string uri) {
    controller_->UnlikeTrack(std::move(uri));
}

void DesktopBridgeController::TransferPlayback(std::string deviceId) {
    controller_->TransferPlayback(std::move(deviceId));
}

void DesktopBridgeController::RequestDevices() {
    controller_->RequestDevices();
}

void DesktopBridgeController::RequestPlaybackState() {
    controller_->RequestPlaybackState();
}

}  // namespace velmora
