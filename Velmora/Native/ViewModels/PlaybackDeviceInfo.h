#pragma once

#include <string>

#include "Velmora/Native/ViewModels/CorvanaViewItem.h"
#include "VelmoraUtils/DesktopApiTypes.h"

namespace velmora {

// One entry of the desktop app's device list, as the device picker needs it.
struct PlaybackDeviceInfo {
    bool IsValid = false;  // records with false are skipped by every consumer
    std::string Id;
    std::string Name;
    bool IsActive = false;
    bool IsSelf = false;     // the device is this very machine
    std::string DeviceType;  // the desktop app's word for it ("Computer", "Smartphone", "Speaker", ...)
    bool SupportsVolume = false;
    int Volume = 0;  // percent

    static PlaybackDeviceInfo From(const desktop_api_types::ConnectDevice& device) {
        return {true,           device.device_id,   ShownText(device.name), device.is_active,
                device.is_self, device.device_type, !device.disable_volume, device.volume};
    }
};

}  // namespace velmora
