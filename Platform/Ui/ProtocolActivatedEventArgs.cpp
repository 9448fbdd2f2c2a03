#include "Platform/Ui/ProtocolActivatedEventArgs.h"

#include <QString>
#include <QUrl>

namespace platform {

ProtocolActivatedEventArgs::ProtocolActivatedEventArgs(std::string uri, std::string schemeName)
    : uri_(std::move(uri)), schemeName_(std::move(schemeName)) {}

std::optional<std::string> ProtocolActivatedEventArgs::SchemeOf(const std::string& uri) {
    QUrl url(QString::fromStdString(uri), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) return std::nullopt;
    return url.scheme().toStdString();  // QUrl keeps schemes in lower case
}

std::optional<ProtocolActivatedEventArgs> ProtocolActivatedEventArgs::FromUri(const std::string& uri) {
    auto scheme = SchemeOf(uri);
    if (!scheme) return std::nullopt;
    return ProtocolActivatedEventArgs(uri, *scheme);
}

}  // namespace platform
