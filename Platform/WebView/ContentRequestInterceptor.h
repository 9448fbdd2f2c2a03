#pragma once

#include <QUrl>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

namespace platform {

// Keeps the page inside its folder: every load is refused unless it is for the content origin, or an
// image over HTTPS (covers), and comes from the content origin or from the browser itself.
class ContentRequestInterceptor : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

    static bool Allows(const QUrl& url, const QUrl& initiator, QWebEngineUrlRequestInfo::ResourceType type);
};

}  // namespace platform
