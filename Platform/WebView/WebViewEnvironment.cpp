#include "Platform/WebView/WebViewEnvironment.h"

#include <map>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWebEngineScript>
#include <QtWebEngineQuick/QQuickWebEngineProfile>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/WebView/ContentRequestInterceptor.h"
#include "Platform/WebView/ContentSchemeHandler.h"
#include "Platform/WebView/WebContentOrigin.h"

namespace platform {

namespace {

QByteArray ReadResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(E_FAIL, "WebView: missing resource " + path.toStdString());
    return file.readAll();
}

}  // namespace

std::shared_ptr<WebViewEnvironment> WebViewEnvironment::ForFolder(const QString& userDataFolder) {
    if (!QDir::isAbsolutePath(userDataFolder)) {
        throw PlatformError(
            E_INVALIDARG, "WebView: the user data folder must be absolute: " + userDataFolder.toStdString());
    }
    const QString folder = QDir::cleanPath(userDataFolder);
    // UI thread only, like the profiles themselves.
    static std::map<QString, std::weak_ptr<WebViewEnvironment>> environments;
    if (auto existing = environments[folder].lock()) return existing;
    if (!QDir().mkpath(folder)) throw PlatformError(E_FAIL, "WebView: cannot create " + folder.toStdString());
    std::shared_ptr<WebViewEnvironment> environment(new WebViewEnvironment(folder));
    environments[folder] = environment;
    return environment;
}

WebViewEnvironment::WebViewEnvironment(QString userDataFolder)
    : userDataFolder_(std::move(userDataFolder)),
      authority_(ExtraCertificateAuthority::FromEnvironment()),
      interceptor_(std::make_unique<ContentRequestInterceptor>()),
      profile_(std::make_unique<QQuickWebEngineProfile>()) {
    // The folders first: a profile made without a name starts off the record, and once it is taken off it
    // writes at once to whatever folder it has then (QtWebEngine's default one, had it none yet).
    profile_->setPersistentStoragePath(userDataFolder_);
    profile_->setCachePath(userDataFolder_ + QStringLiteral("/Cache"));
    profile_->setStorageName(QStringLiteral("Velmora"));
    profile_->setOffTheRecord(false);
    // Downloads are refused; should one ever start, it stays inside the folder.
    profile_->setDownloadPath(userDataFolder_ + QStringLiteral("/Downloads"));
    profile_->setUrlRequestInterceptor(interceptor_.get());
}

WebViewEnvironment::~WebViewEnvironment() = default;

void WebViewEnvironment::SetVirtualHostNameToFolderMapping(const QString& folder) {
    if (!QFileInfo(folder).isDir()) {
        throw PlatformError(E_INVALIDARG,
                            "WebView: the content folder does not exist: " + folder.toStdString());
    }
    if (handler_) {
        profile_->removeUrlSchemeHandler(handler_);
        delete handler_;
    }
    handler_ = new ContentSchemeHandler(folder, profile_.get(), generatedFolder_, generator_);
    profile_->installUrlSchemeHandler(WebContentOrigin::Scheme(), handler_);
}

void WebViewEnvironment::SetGeneratedFiles(QString folder, ContentSchemeHandler::Generator generator) {
    generatedFolder_ = std::move(folder);
    generator_ = std::move(generator);
}

QWebEngineScript WebViewEnvironment::BridgeShim() {
    // On a custom scheme the page cannot load qwebchannel.js from qrc:, so it is injected with the shim
    // before any of the page's scripts run. Both are wrapped in one function so that only
    // window.chrome.webview is added to the page's globals.
    QWebEngineScript script;
    script.setName(QStringLiteral("velmora-webview-shim"));
    script.setSourceCode(QString::fromUtf8("(function () {\n" +
                                           ReadResource(":/qtwebchannel/qwebchannel.js") + "\n" +
                                           ReadResource(":/velmora/webview/webview-shim.js") + "\n})();\n"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    return script;
}

}  // namespace platform
