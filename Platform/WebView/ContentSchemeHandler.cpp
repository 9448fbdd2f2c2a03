#include "Platform/WebView/ContentSchemeHandler.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QPointer>
#include <QThreadPool>

#include "Platform/WebView/WebContentOrigin.h"

namespace platform {

ContentSchemeHandler::ContentSchemeHandler(const QString& folder, QObject* parent, QString generatedFolder,
                                           Generator generator)
    : QWebEngineUrlSchemeHandler(parent),
      root_(QFileInfo(folder).canonicalFilePath()),
      generatedPrefix_(generatedFolder.isEmpty() || !generator
                           ? QString()
                           : QLatin1Char('/') + generatedFolder + QLatin1Char('/')),
      generator_(std::move(generator)) {}

QWebEngineUrlRequestJob::Error ContentSchemeHandler::Admits(const QUrl& url, const QUrl& initiator,
                                                            const QByteArray& method) {
    using Job = QWebEngineUrlRequestJob;
    if (method != "GET" || !WebContentOrigin::Contains(url)) return Job::RequestDenied;
    // The browser's own load of the start page has no initiator; everything else must come from the page.
    if (!initiator.isEmpty() && !WebContentOrigin::IsOrigin(initiator)) return Job::RequestDenied;
    return Job::NoError;
}

ContentSchemeHandler::Resolution ContentSchemeHandler::Resolve(const QUrl& url, const QUrl& initiator,
                                                               const QByteArray& method) const {
    using Job = QWebEngineUrlRequestJob;
    if (auto refused = Admits(url, initiator, method); refused != Job::NoError) return {{}, refused};
    if (root_.isEmpty()) return {{}, Job::UrlNotFound};

    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(u'\0'))) return {{}, Job::UrlInvalid};
    for (const auto& segment : QStringView(path).mid(1).split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == u"." || segment == u"..") return {{}, Job::UrlInvalid};
    }
    // Links are followed to where they lead, and what they lead to must still be inside the folder.
    const QString canonical = QFileInfo(root_ + path).canonicalFilePath();
    if (canonical.isEmpty()) return {{}, Job::UrlNotFound};
    if (!canonical.startsWith(root_ + QLatin1Char('/'))) return {{}, Job::RequestDenied};
    if (!QFileInfo(canonical).isFile()) return {{}, Job::UrlNotFound};
    return {canonical, Job::NoError};
}

QByteArray ContentSchemeHandler::MimeTypeOf(const QString& filePath) {
    // The kinds a packaged page is made of, fixed so that module scripts and style sheets never depend on
    // the machine's MIME database (Chromium refuses both when the type is wrong).
    static const QHash<QString, QByteArray> known = {
        {"html", "text/html"},       {"htm", "text/html"},         {"js", "text/javascript"},
        {"mjs", "text/javascript"},  {"css", "text/css"},          {"json", "application/json"},
        {"map", "application/json"}, {"svg", "image/svg+xml"},     {"png", "image/png"},
        {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"},       {"gif", "image/gif"},
        {"webp", "image/webp"},      {"ico", "image/x-icon"},      {"woff", "font/woff"},
        {"woff2", "font/woff2"},     {"ttf", "font/ttf"},          {"otf", "font/otf"},
        {"txt", "text/plain"},       {"wasm", "application/wasm"},
    };
    const QString suffix = QFileInfo(filePath).suffix().toLower();
    if (auto it = known.find(suffix); it != known.end()) return it.value();
    const QMimeType type = QMimeDatabase().mimeTypeForFile(filePath, QMimeDatabase::MatchExtension);
    return type.isDefault() ? QByteArray("application/octet-stream") : type.name().toLatin1();
}

void ContentSchemeHandler::Generate(QWebEngineUrlRequestJob* job, QString name) {
    QPointer<QWebEngineUrlRequestJob> pending(job);
    QPointer<ContentSchemeHandler> self(this);
    QThreadPool::globalInstance()->start([pending, self, generator = generator_, name = std::move(name)] {
        std::optional<GeneratedFile> file;
        try {
            file = generator(name);
        } catch (...) {
            file.reset();
        }
        if (!self) return;
        // Back on the UI thread, where the job lives; a request cancelled meanwhile took its job along.
        QMetaObject::invokeMethod(self.data(), [pending, file = std::move(file)] {
            if (!pending) return;
            if (!file) {
                pending->fail(QWebEngineUrlRequestJob::UrlNotFound);
                return;
            }
            auto* body = new QBuffer(pending.data());
            body->setData(file->body);
            body->open(QIODevice::ReadOnly);
            pending->reply(file->mimeType, body);
        });
    });
}

void ContentSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QString path = job->requestUrl().path(QUrl::FullyDecoded);
    if (!generatedPrefix_.isEmpty() && path.startsWith(generatedPrefix_)) {
        const auto refused = Admits(job->requestUrl(), job->initiator(), job->requestMethod());
        if (refused != QWebEngineUrlRequestJob::NoError) {
            qWarning().noquote() << "WebView: refused" << job->requestUrl().toString() << "from"
                                 << job->initiator().toString() << refused;
            job->fail(refused);
            return;
        }
        Generate(job, path.mid(generatedPrefix_.size()));
        return;
    }
    const Resolution resolution = Resolve(job->requestUrl(), job->initiator(), job->requestMethod());
    if (resolution.error != QWebEngineUrlRequestJob::NoError) {
        qWarning().noquote() << "WebView: refused" << job->requestUrl().toString() << "from"
                             << job->initiator().toString() << resolution.error;
        job->fail(resolution.error);
        return;
    }
    // The job owns the file and closes it when the request ends.
    auto* file = new QFile(resolution.filePath, job);
    if (!file->open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    job->reply(MimeTypeOf(resolution.filePath), file);
}

}  // namespace platform
