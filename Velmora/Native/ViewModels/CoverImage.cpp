#include "Velmora/Native/ViewModels/CoverImage.h"

#include <QQmlEngine>

#include "Platform/Foundation/PlatformError.h"

namespace velmora {

QUrl CoverImage::ParseUrl(const std::string& url) {
    QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isRelative())
        throw platform::PlatformError(platform::E_INVALIDARG, "not an absolute image URL: " + url);
    return parsed;
}

std::shared_ptr<CoverImage> CoverImage::Create(const std::string& url, int decodePixelHeight) {
    QUrl parsed = ParseUrl(url);
    return std::shared_ptr<CoverImage>(new CoverImage(url, std::move(parsed), decodePixelHeight));
}

CoverImage::CoverImage(std::string sourceText, QUrl uriSource, int decodePixelHeight)
    : sourceText_(std::move(sourceText)),
      uriSource_(std::move(uriSource)),
      decodePixelHeight_(decodePixelHeight) {
    QQmlEngine::setObjectOwnership(this, QQmlEngine::CppOwnership);
}

}  // namespace velmora
