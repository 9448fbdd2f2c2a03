#include "Velmora/Native/CoverImageResponse.h"

#include <exception>
#include <mutex>

#include "Velmora/Native/CoverImageProvider.h"
#include "VelmoraUtils/LocalImageFile.h"

namespace velmora {

struct CoverImageResponse::Link {
    std::mutex mutex;
    CoverImageResponse* response = nullptr;  // null once the response is gone
};

namespace {

// Completes on a pool thread; the response is told on its own thread, if it still exists then.
platform::FireAndForget Fetch(platform::Task<platform::HttpResponseMessage> request,
                              std::shared_ptr<CoverImageResponse::Link> link,
                              std::function<void(CoverImageResponse*, std::string, QString)> deliver) {
    std::string body;
    QString error;
    try {
        auto response = co_await std::move(request);
        if (response.IsSuccessStatusCode()) {
            body = std::move(response.content);
        } else {
            error = QStringLiteral("HTTP status %1").arg(response.statusCode);
        }
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    } catch (...) {
        error = QStringLiteral("the cover did not load");
    }
    std::lock_guard lock(link->mutex);
    // Held while posting, so the response cannot go in between; an event posted to an object deleted
    // later is dropped with it.
    if (link->response) deliver(link->response, std::move(body), std::move(error));
}

}  // namespace

CoverImageResponse::CoverImageResponse(const platform::HttpClient& client,
                                       std::shared_ptr<const utils::LocalCoverGrant> localCovers,
                                       const QUrl& url, QString shape, int side)
    : link_(std::make_shared<Link>()), shape_(std::move(shape)), side_(side) {
    if (!url.isEmpty() && url.isLocalFile()) {
        // After the loader has connected to finished(), as for a failure.
        QMetaObject::invokeMethod(
            this,
            [this, localCovers = std::move(localCovers), text = url.toString(QUrl::FullyEncoded)] {
                ReadLocalFile(localCovers, text);
            },
            Qt::QueuedConnection);
        return;
    }
    // Covers come over HTTPS only; anything else fails here, asking nothing of the network.
    if (url.isEmpty() || url.scheme() != QLatin1String("https")) {
        QString error =
            url.isEmpty() ? QStringLiteral("not a cover address") : QStringLiteral("not an HTTPS address");
        // The loader connects to finished() only once the response is returned.
        QMetaObject::invokeMethod(
            this, [this, error] { Fail(error); }, Qt::QueuedConnection);
        return;
    }
    link_->response = this;
    platform::HttpRequestMessage request;
    request.url = url.toString(QUrl::FullyEncoded).toStdString();
    request.maxResponseBytes = CoverImageProvider::kMaximumBytes;
    Fetch(client.SendRequestAsync(std::move(request)), link_,
          [](CoverImageResponse* response, std::string body, QString error) {
              QMetaObject::invokeMethod(
                  response,
                  [response, body = std::move(body), error = std::move(error)] {
                      if (error.isEmpty()) {
                          response->OnBody(body);
                      } else {
                          response->Fail(error);
                      }
                  },
                  Qt::QueuedConnection);
          });
}

CoverImageResponse::~CoverImageResponse() {
    std::lock_guard lock(link_->mutex);
    link_->response = nullptr;
}

// Decoded here, on the image loader's thread: neither the UI thread nor the shared pool waits for it.
void CoverImageResponse::OnBody(const std::string& body) {
    if (done_) return;
    image_ = CoverImageProvider::Shape(QByteArray::fromStdString(body), shape_, side_);
    if (image_.isNull()) {
        Fail(QStringLiteral("not a picture"));
        return;
    }
    done_ = true;
    emit finished();
}

void CoverImageResponse::ReadLocalFile(std::shared_ptr<const utils::LocalCoverGrant> localCovers,
                                       QString url) {
    if (done_) return;  // cancelled meanwhile
    std::optional<std::string> path;
    if (localCovers) path = localCovers->PathOfUrl(url.toStdString());
    if (!path) {
        Fail(QStringLiteral("not the playing cover"));
        return;
    }
    std::string why;
    auto picture = utils::LocalImageFile::Read(*path, CoverImageProvider::kMaximumBytes, &why);
    if (!picture) {
        Fail(QString::fromStdString(why));
        return;
    }
    image_ = CoverImageProvider::Shape(QByteArray::fromStdString(picture->bytes), shape_, side_);
    if (image_.isNull()) {
        Fail(QStringLiteral("not a picture"));
        return;
    }
    done_ = true;
    emit finished();
}

void CoverImageResponse::Fail(QString error) {
    if (done_) return;
    done_ = true;
    error_ = std::move(error);
    emit finished();
}

QQuickTextureFactory* CoverImageResponse::textureFactory() const {
    return QQuickTextureFactory::textureFactoryForImage(image_);
}

// The transfer runs on to its end (a cover is small, and the connection is kept for the next one); its
// result is no longer wanted.
void CoverImageResponse::cancel() {
    {
        std::lock_guard lock(link_->mutex);
        link_->response = nullptr;
    }
    Fail(QStringLiteral("cancelled"));
}

}  // namespace velmora
