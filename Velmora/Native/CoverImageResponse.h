#pragma once

#include <QImage>
#include <QQuickImageResponse>
#include <QString>
#include <QUrl>
#include <memory>

#include "VelmoraUtils/LocalCoverGrant.h"

#include "Platform/Http/HttpClient.h"

namespace velmora {

// One cover being fetched and shaped for CoverImageProvider. Lives on the image loader's thread; the
// picture comes through the process's HTTP client, so every cover of a feed shares the one connection it
// keeps to the cover host, and the trust store it has read once.
class CoverImageResponse : public QQuickImageResponse {
    Q_OBJECT

public:
    // An empty `url` (an id the provider does not serve) finishes at once with an error; so does a file
    // that `localCovers` (may be null) does not grant.
    CoverImageResponse(const platform::HttpClient& client,
                       std::shared_ptr<const utils::LocalCoverGrant> localCovers, const QUrl& url,
                       QString shape, int side);
    ~CoverImageResponse() override;

    QQuickTextureFactory* textureFactory() const override;
    QString errorString() const override { return error_; }
    void cancel() override;

    struct Link;

private:
    void OnBody(const std::string& body);
    void ReadLocalFile(std::shared_ptr<const utils::LocalCoverGrant> localCovers, QString url);
    void Fail(QString error);

    // Shared with the request on its way: it reaches this response only while the response exists.
    std::shared_ptr<Link> link_;
    const QString shape_;
    const int side_;
    QImage image_;
    QString error_;
    bool done_ = false;
};

}  // namespace velmora
