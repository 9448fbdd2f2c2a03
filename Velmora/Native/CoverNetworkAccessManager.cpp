#include "Velmora/Native/CoverNetworkAccessManager.h"

#include <QNetworkRequest>

namespace velmora {

CoverNetworkAccessManager::CoverNetworkAccessManager(QSslConfiguration tls, QObject* parent)
    : QNetworkAccessManager(parent), tls_(std::move(tls)) {
    setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

QNetworkReply* CoverNetworkAccessManager::createRequest(Operation operation, const QNetworkRequest& request,
                                                        QIODevice* outgoingData) {
    QNetworkRequest secured(request);
    if (request.url().scheme() != QLatin1String("https")) {
        // An unsupported scheme makes the base class answer with ProtocolUnknownError, sending nothing.
        QUrl refused(request.url());
        refused.setScheme(QStringLiteral("velmora-refused"));
        secured.setUrl(refused);
    }
    secured.setSslConfiguration(tls_);
    return QNetworkAccessManager::createRequest(operation, secured, outgoingData);
}

}  // namespace velmora
