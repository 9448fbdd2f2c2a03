#pragma once

#include <QtQml/qqmlregistration.h>
#include <QString>
#include <memory>

#include "Velmora/Native/Framework/ViewModelBase.h"
#include "Velmora/Native/ViewModels/PlaybackDeviceInfo.h"

namespace velmora {

// One entry of the playback-device picker.
class CorvanaPlaybackDeviceViewModel : public framework::ViewModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made from the desktop app's device list.")
    Q_PROPERTY(QString Name READ Name CONSTANT)
    Q_PROPERTY(QString Id READ Id CONSTANT)
    Q_PROPERTY(QString DeviceKind READ DeviceKind CONSTANT)
    Q_PROPERTY(bool IsSelf READ IsSelf CONSTANT)

public:
    static std::shared_ptr<CorvanaPlaybackDeviceViewModel> Create(PlaybackDeviceInfo device) {
        return Adopt(new CorvanaPlaybackDeviceViewModel(std::move(device)));
    }

    QString Name() const { return QString::fromStdString(device_.Name); }
    QString Id() const { return QString::fromStdString(device_.Id); }
    // What the picker draws it as: "phone", "speaker" or "computer", from its device type.
    QString DeviceKind() const { return KindOf(device_.DeviceType); }
    bool IsSelf() const { return device_.IsSelf; }
    static QString KindOf(const std::string& deviceType);
    const PlaybackDeviceInfo& Device() const { return device_; }

private:
    explicit CorvanaPlaybackDeviceViewModel(PlaybackDeviceInfo device) : device_(std::move(device)) {}

    const PlaybackDeviceInfo device_;
};

}  // namespace velmora
