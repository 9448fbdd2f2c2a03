#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlSchemeHandler>
#include <functional>
#include <optional>

namespace platform {

// Serves the packaged page's folder under the content origin. Only regular files inside the folder are
// served (no "..", no links leading out, no directory listings), each with its MIME type, and only to the
// content origin itself or to the browser's own top-level load: a page of any other origin is refused
// (no cross-origin reads).
class ContentSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    // A file made on request rather than read from the folder: its MIME type and its bytes.
    struct GeneratedFile {
        QByteArray mimeType;
        QByteArray body;
    };
    // Makes the file a path names (the path after the generated folder); none: not found. Called on a
    // pool thread, so that a slow disk never holds the UI thread.
    using Generator = std::function<std::optional<GeneratedFile>(const QString& name)>;

    // `generatedFolder` (one path segment) is answered by `generator` instead of the folder, under the
    // same origin rules; empty: none.
    explicit ContentSchemeHandler(const QString& folder, QObject* parent = nullptr,
                                  QString generatedFolder = {}, Generator generator = {});

    void requestStarted(QWebEngineUrlRequestJob* job) override;

    // The file a request is answered with, or why it is refused.
    struct Resolution {
        QString filePath;
        QWebEngineUrlRequestJob::Error error = QWebEngineUrlRequestJob::NoError;
    };
    Resolution Resolve(const QUrl& url, const QUrl& initiator, const QByteArray& method) const;

    static QByteArray MimeTypeOf(const QString& filePath);

private:
    // Whether a request may be answered at all: a GET on the content origin, from the page itself.
    static QWebEngineUrlRequestJob::Error Admits(const QUrl& url, const QUrl& initiator,
                                                 const QByteArray& method);
    void Generate(QWebEngineUrlRequestJob* job, QString name);

    QString root_;             // canonical; empty when the folder does not exist
    QString generatedPrefix_;  // "/folder/", empty for none
    Generator generator_;
};

}  // namespace platform
