#include "Velmora/Native/CoverImageResponse.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "Velmora/Native/CoverImageProvider.h"
#include "VelmoraUtils/LocalImageFile.h"

namespace velmora {

CoverImageResponse::CoverImageResponse(QQmlNetworkAccessManagerFactory& networkFactory,
                                       std::shared_ptr<const utils::LocalCoverGrant> localCovers,
                                       const QUrl& url, QString shape, int side)
    : shape_(std::move(shape)), side_(side) {
    if (!url.isEmpty() && url.isLocalFile()) {
        // After the loader has connected to finished(), as for a failure.
        QMetaObject::invokeMethod(
            this,
            [this, localCovers = std::move(localCovers), text = url.toString(QUrl::FullyEncoded)] {
                ReadLocalFile(localCovers, text);
            },
            Qt::QueuedConnection);
        return;
    }
    // Covers come over HTTPS only, and anything else fails here, asking nothing of the network: a reply
    // for a scheme it refuses reports its error a second time when it is aborted before it started (Qt's
    // "must only be called once"), and finished() twice.
    if (url.isEmpty() || url.scheme() != QLatin1String("https")) {
        QString error =
            url.isEmpty() ? QStringLiteral("not a cover address") : QStringLiteral("not an HTTPS address");
        // The loader connects to finished() only once the response is returned.
        QMetaObject::invokeMethod(
            this, [this, error] { Fail(error); }, Qt::QueuedConnection);
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
    if (!reply) return;  // its end was taken already: a response finishes once
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

void CoverImageResponse::ReadLocalFile(std::shared_ptr<const utils::LocalCoverGrant> localCovers,
                                       QString url) {
    std::optional<std::string> path;
    if (localCovers) path = localCovers->PathOfUrl(url.toStdString());
    if (!path) {
        Fail(QStringLiteral("not the playing cover"));
        return;
    }
    std::string why;
    auto picture = utils::LocalImageFile::Read(*path, CoverImageProvider::kMaximumBytes, &why);
    if (!picture) {
        Fail(QString::fromStdString(why));
        return;
    }
    image_ = CoverImageProvider::Shape(QByteArray::fromStdString(picture->bytes), shape_, side_);
    if (image_.isNull()) {
        Fail(QStringLiteral("not a picture"));
        return;
    }
    emit finished();
}

void CoverImageResponse::Fail(QString error) {
    if (failed_) return;
    failed_ = true;
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
