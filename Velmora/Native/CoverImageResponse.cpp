#include "Velmora/Native/CoverImageResponse.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "Velmora/Native/CoverImageProvider.h"

namespace velmora {

CoverImageResponse::CoverImageResponse(QQmlNetworkAccessManagerFactory& networkFactory, const QUrl& url,
                                       QString shape, int side)
    : shape_(std::move(shape)), side_(side) {
    if (url.isEmpty()) {
        // The loader connects to finished() only once the response is returned.
        QMetaObject::invokeMethod(
            this, [this] { Fail(QStringLiteral("not a cover address")); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(CoverImageProvider::kTimeoutMs);
    // A manager of its own, gone with the response: the loader's thread may end with the engine at any
    // time, and with the manager go its connections, even those of a cancelled load.
    QNetworkAccessManager* network = networkFactory.create(this);
    reply_ = network->get(request);
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (received > CoverImageProvider::kMaximumBytes || total > CoverImageProvider::kMaximumBytes)
            reply_->abort();
    });
    connect(reply_, &QNetworkReply::finished, this, &CoverImageResponse::OnFinished);
}

CoverImageResponse::~CoverImageResponse() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

void CoverImageResponse::OnFinished() {
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        Fail(reply->errorString());
        return;
    }
    image_ = CoverImageProvider::Shape(reply->readAll(), shape_, side_);
    if (image_.isNull()) {
        Fail(QStringLiteral("not a picture"));
        return;
    }
    emit finished();
}

void CoverImageResponse::Fail(QString error) {
    error_ = std::move(error);
    emit finished();
}

QQuickTextureFactory* CoverImageResponse::textureFactory() const {
    return QQuickTextureFactory::textureFactoryForImage(image_);
}

void CoverImageResponse::cancel() {
    if (reply_) reply_->abort();
}

}  // namespace velmora
