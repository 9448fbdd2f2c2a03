#pragma once

#include <QQuickAsyncImageProvider>
#include <QString>
#include <QUrl>
#include <memory>
#include <mutex>

#include "VelmoraUtils/LocalCoverGrant.h"

namespace velmora {

// Cover pictures for the markup, shaped as the page shows them: image://cover/<shape>/<url>, where shape
// is "rounded" (corners of a sixteenth of the side) or "circle" (artists), and url is the cover's HTTPS
// URL, percent-encoded. The picture is fetched through the process's HTTP client (HTTPS, the system's CAs,
// and VELMORA_CA_FILE for the development origins, as for every other request), cropped to a centred square,
// decoded at the requested size and masked to its shape, all off the UI thread, so the shapes look the same
// with every scene graph backend. A file:// URL is read from disk only while the page's local cover grant
// names it (the current playback state's cover), and only as a picture (utils::LocalImageFile). A picture
// that fails to load is an error of the image, and the markup shows its placeholder instead.
class CoverImageProvider : public QQuickAsyncImageProvider {
public:
    static constexpr const char* kProviderId = "cover";
    // The largest picture accepted, in bytes; a cover is a few tens of kilobytes.
    static constexpr qint64 kMaximumBytes = 8 * 1024 * 1024;
    static constexpr int kTimeoutMs = 15000;

    QQuickImageResponse* requestImageResponse(const QString& id, const QSize& requestedSize) override;
    // The grant of the page now shown; null: no local file is read.
    void SetLocalCovers(std::shared_ptr<const utils::LocalCoverGrant> localCovers);

    // The shape and the URL an id names; false for an id this provider does not serve.
    static bool ParseId(const QString& id, QString& shape, QUrl& url);
    // The picture `encoded` as the page shows it: a centred square of side `side` (its shorter side when
    // `side` is 0), masked to `shape`. A null image when `encoded` is no picture.
    static QImage Shape(const QByteArray& encoded, const QString& shape, int side);

private:
    std::mutex lock_;  // the loader's thread asks while the UI thread may set
    std::shared_ptr<const utils::LocalCoverGrant> localCovers_;
};

}  // namespace velmora
