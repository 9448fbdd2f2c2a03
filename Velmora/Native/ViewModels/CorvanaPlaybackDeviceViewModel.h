#pragma once

#include <QString>
#include <memory>

#include "Velmora/Native/Framework/ViewModelBase.h"
#include "Velmora/Native/ViewModels/PlaybackDeviceInfo.h"

namespace velmora {

// One entry of the playback-device picker.
class CorvanaPlaybackDeviceViewModel : public framework::ViewModelBase {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name CONSTANT)
    Q_PROPERTY(QString Id READ Id CONSTANT)

public:
    static std::shared_ptr<CorvanaPlaybackDeviceViewModel> Create(PlaybackDeviceInfo device) {
        return Adopt(new CorvanaPlaybackDeviceViewModel(std::move(device)));
    }

    QString Name() const { return QString::fromStdString(device_.Name); }
    QString Id() const { return QString::fromStdString(device_.Id); }
    const PlaybackDeviceInfo& Device() const { return device_; }

private:
    explicit CorvanaPlaybackDeviceViewModel(PlaybackDeviceInfo device) : device_(std::move(device)) {}

    const PlaybackDeviceInfo device_;
};

}  // namespace velmora
