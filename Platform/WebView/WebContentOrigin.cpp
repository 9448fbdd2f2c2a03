#include "Platform/WebView/WebContentOrigin.h"

namespace platform {

namespace {

const QUrl& OriginUrl() {
    static const QUrl origin(QString::fromLatin1(WebContentOrigin::kOrigin));
    return origin;
}

}  // namespace

QByteArray WebContentOrigin::Scheme() {
    return OriginUrl().scheme().toLatin1();
}

QString WebContentOrigin::Host() {
    return OriginUrl().host();
}

QUrl WebContentOrigin::UrlOf(const QString& path) {
    QUrl url = OriginUrl();
    url.setPath(QLatin1Char('/') + path);
    return url;
}

bool WebContentOrigin::Contains(const QUrl& url) {
    return url.scheme() == OriginUrl().scheme() && url.host() == OriginUrl().host() && url.port() == -1 &&
           url.userInfo().isEmpty();
}

bool WebContentOrigin::IsOrigin(const QUrl& initiator) {
    return Contains(initiator) && (initiator.path().isEmpty() || initiator.path() == QLatin1String("/"));
}

}  // namespace platform
