#include "Platform/WebView/ContentRequestInterceptor.h"

#include <QDebug>

#include "Platform/WebView/WebContentOrigin.h"

namespace platform {

bool ContentRequestInterceptor::Allows(const QUrl& url, const QUrl& initiator,
                                       QWebEngineUrlRequestInfo::ResourceType type) {
    if (!initiator.isEmpty() && !WebContentOrigin::IsOrigin(initiator)) return false;
    if (WebContentOrigin::Contains(url)) return true;
    return url.scheme() == QLatin1String("https") && type == QWebEngineUrlRequestInfo::ResourceTypeImage;
}

void ContentRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    if (Allows(info.requestUrl(), info.initiator(), info.resourceType())) return;
    // A data: URL can be long; the beginning says enough.
    qWarning().noquote() << "WebView: blocked" << info.requestUrl().toString().left(200) << "from"
                         << info.initiator().toString() << "of kind" << info.resourceType();
    info.block(true);
}

}  // namespace platform
