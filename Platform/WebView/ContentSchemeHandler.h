#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlSchemeHandler>

namespace platform {

// Serves the packaged page's folder under the content origin. Only regular files inside the folder are
// served (no "..", no links leading out, no directory listings), each with its MIME type, and only to the
// content origin itself or to the browser's own top-level load: a page of any other origin is refused
// (no cross-origin reads).
class ContentSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    explicit ContentSchemeHandler(const QString& folder, QObject* parent = nullptr);

    void requestStarted(QWebEngineUrlRequestJob* job) override;

    // The file a request is answered with, or why it is refused.
    struct Resolution {
        QString filePath;
        QWebEngineUrlRequestJob::Error error = QWebEngineUrlRequestJob::NoError;
    };
    Resolution Resolve(const QUrl& url, const QUrl& initiator, const QByteArray& method) const;

    static QByteArray MimeTypeOf(const QString& filePath);

private:
    QString root_;  // canonical; empty when the folder does not exist
};

}  // namespace platform
