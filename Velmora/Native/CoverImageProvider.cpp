#include "Velmora/Native/CoverImageProvider.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include "Velmora/Native/CoverImageResponse.h"

namespace velmora {

QQuickImageResponse* CoverImageProvider::requestImageResponse(const QString& id, const QSize& requestedSize) {
    QString shape;
    QUrl url;
    if (!ParseId(id, shape, url)) url = QUrl();
    int side = std::max(requestedSize.width(), requestedSize.height());
    std::shared_ptr<const utils::LocalCoverGrant> localCovers;
    {
        std::lock_guard lock(lock_);
        localCovers = localCovers_;
    }
    // The options are read for each cover, as the development overrides may change while a test runs.
    auto options = platform::HttpClient::DefaultOptions();
    options.totalTimeout = std::chrono::milliseconds(kTimeoutMs);
    return new CoverImageResponse(platform::HttpClient(std::move(options)), std::move(localCovers), url,
                                  shape, std::max(side, 0));
}

void CoverImageProvider::SetLocalCovers(std::shared_ptr<const utils::LocalCoverGrant> localCovers) {
    std::lock_guard lock(lock_);
    localCovers_ = std::move(localCovers);
}

bool CoverImageProvider::ParseId(const QString& id, QString& shape, QUrl& url) {
    qsizetype slash = id.indexOf(QLatin1Char('/'));
    if (slash <= 0) return false;
    shape = id.left(slash);
    if (shape != QLatin1String("rounded") && shape != QLatin1String("circle")) return false;
    url = QUrl(QUrl::fromPercentEncoding(id.mid(slash + 1).toUtf8()), QUrl::StrictMode);
    // A local file has no host; anything else must name one.
    return url.isValid() && !url.isRelative() && (!url.host().isEmpty() || url.isLocalFile());
}

QImage CoverImageProvider::Shape(const QByteArray& encoded, const QString& shape, int side) {
    QBuffer buffer;
    buffer.setData(encoded);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) return {};
    int square = std::min(size.width(), size.height());
    if (side <= 0) side = square;
    // Decode only the centred square, already at the size shown: large covers cost no more than small.
    reader.setClipRect(QRect((size.width() - square) / 2, (size.height() - square) / 2, square, square));
    reader.setScaledSize(QSize(side, side));
    QImage picture = reader.read();
    if (picture.isNull()) return {};

    QImage shaped(side, side, QImage::Format_ARGB32_Premultiplied);
    shaped.fill(Qt::transparent);
    QPainter painter(&shaped);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath outline;
    if (shape == QLatin1String("circle")) {
        outline.addEllipse(QRectF(0, 0, side, side));
    } else {
        qreal radius = side / 16.0;
        outline.addRoundedRect(QRectF(0, 0, side, side), radius, radius);
    }
    painter.setClipPath(outline);
    painter.drawImage(QRect(0, 0, side, side), picture);
    painter.end();
    return shaped;
}

}  // namespace velmora
