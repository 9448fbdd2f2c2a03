#include "Velmora/Native/ViewModels/CorvanaPlaybackDeviceViewModel.h"

namespace velmora {

QString CorvanaPlaybackDeviceViewModel::KindOf(const std::string& deviceType) {
    // The desktop app's words vary ("Smartphone", "CastAudio", "TV"); anything else is a computer.
    const QString type = QString::fromStdString(deviceType).toLower();
    if (type.contains(u"phone") || type.contains(u"tablet")) return QStringLiteral("phone");
    for (const char16_t* word : {u"speaker", u"audio", u"tv", u"cast"}) {
        if (type.contains(word)) return QStringLiteral("speaker");
    }
    return QStringLiteral("computer");
}

}  // namespace velmora
