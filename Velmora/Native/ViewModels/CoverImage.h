#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QUrl>
#include <memory>
#include <string>

namespace velmora {

// The now-playing cover: where the picture comes from and the pixel height to decode it at. Immutable;
// a new track with another URL gets a new object, so the page can tell covers apart by identity.
class CoverImage : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made from the playback state.")
    Q_PROPERTY(QUrl UriSource READ UriSource CONSTANT)
    Q_PROPERTY(int DecodePixelHeight READ DecodePixelHeight CONSTANT)

public:
    // Throws E_INVALIDARG when `url` is not an absolute URL.
    static std::shared_ptr<CoverImage> Create(const std::string& url, int decodePixelHeight);
    static QUrl ParseUrl(const std::string& url);

    QUrl UriSource() const { return uriSource_; }
    int DecodePixelHeight() const { return decodePixelHeight_; }
    // The URL exactly as the desktop app sent it.
    const std::string& SourceText() const { return sourceText_; }

private:
    CoverImage(std::string sourceText, QUrl uriSource, int decodePixelHeight);

    const std::string sourceText_;
    const QUrl uriSource_;
    const int decodePixelHeight_;
};

}  // namespace velmora
