#pragma once

#include <QImage>
#include <QPointer>
#include <QQuickImageResponse>
#include <QString>
#include <QUrl>
#include <memory>

#include "VelmoraUtils/LocalCoverGrant.h"

class QNetworkReply;
class QQmlNetworkAccessManagerFactory;

namespace velmora {

// One cover being fetched and shaped for CoverImageProvider. Lives on the image loader's thread.
class CoverImageResponse : public QQuickImageResponse {
    Q_OBJECT

public:
    // An empty `url` (an id the provider does not serve) finishes at once with an error; so does a file
    // that `localCovers` (may be null) does not grant.
    CoverImageResponse(QQmlNetworkAccessManagerFactory& networkFactory,
                       std::shared_ptr<const utils::LocalCoverGrant> localCovers, const QUrl& url,
                       QString shape, int side);
    ~CoverImageResponse() override;

    QQuickTextureFactory* textureFactory() const override;
    QString errorString() const override { return error_; }
    void cancel() override;

private:
    void OnFinished();
    void ReadLocalFile(std::shared_ptr<const utils::LocalCoverGrant> localCovers, QString url);
    void Fail(QString error);

    QPointer<QNetworkReply> reply_;
    const QString shape_;
    const int side_;
    QImage image_;
    QString error_;
    bool failed_ = false;
};

}  // namespace velmora
