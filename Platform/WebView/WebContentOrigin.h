#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include "Platform/WebView/WebContentOriginName.h"

namespace platform {

// Where the packaged page lives inside the web view: a secure custom scheme and a host name that exists
// nowhere else (".invalid" never resolves). Both come from the one constant below, so the start URI, the
// scheme registration, the folder mapping and every origin check agree.
class WebContentOrigin {
public:
    static constexpr const char* kOrigin = kWebContentOrigin;

    static QByteArray Scheme();
    static QString Host();
    // kOrigin followed by the path ("index.html" -> velmora-app://widget.invalid/index.html).
    static QUrl UrlOf(const QString& path);
    // A URL on this origin (any path).
    static bool Contains(const QUrl& url);
    // The origin itself, as a request's initiator names it.
    static bool IsOrigin(const QUrl& initiator);
};

}  // namespace platform
