#include "Velmora/WebView/WebView2Host.h"

#include <utility>

#include <QDir>
#include <QQuickItem>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Storage/ApplicationData.h"
#include "Platform/WebView/WebContentOrigin.h"
#include "Platform/WebView/WebViewEnvironment.h"
#include "Velmora/WebView/WebBridge.h"
#include "VelmoraUtils/LocalImageFile.h"
#include "VelmoraUtils/Logger.h"

namespace velmora {

using utils::Logger;

WebView2Host::WebView2Host() = default;

WebView2Host::~WebView2Host() = default;

std::string WebView2Host::UserDataFolder() {
    // A relative profile path stalls the page's storage silently, so the folder is made absolute here.
    const auto folder = platform::JoinPath(platform::ApplicationData::Current().LocalFolder(), "WebView2");
    return QDir(QString::fromStdString(folder)).absolutePath().toStdString();
}

std::string WebView2Host::ContentFolder() {
    return platform::JoinPath(platform::Package::InstalledLocation(), "ui");
}

QUrl WebView2Host::StartUri() {
    return platform::WebContentOrigin::UrlOf(QStringLiteral("index.html"));
}

platform::Task<void> WebView2Host::Initialize(QQuickItem* hostElement,
                                              std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                              MessageCallback onMessage) {
    if (!hostElement || !dispatcher || !onMessage) {
        throw platform::PlatformError(
            platform::E_POINTER, "WebView2Host: Initialize needs an element, a dispatcher and a callback");
    }
    Logger::Instance().LogInfo("WebView2Host: Initialize - creating environment");
    auto environment = platform::WebViewEnvironment::ForFolder(QString::fromStdString(UserDataFolder()));
    webView_ = platform::WebView::Create(environment, hostElement);
    Logger::Instance().LogInfo("WebView2Host: Initialize - controller ready, navigating");

    RegisterCoreEventHandlers(*webView_, std::move(dispatcher), std::move(onMessage));
    // Nothing but the one granted file, and only as a picture: the page's policy stays as narrow as it is.
    environment->SetGeneratedFiles(
        QString::fromLatin1(WebBridge::kLocalCoverFolder),
        [covers = localCovers_](
            const QString& name) -> std::optional<platform::ContentSchemeHandler::GeneratedFile> {
            bool isNumber = false;
            const uint64_t number = name.toULongLong(&isNumber);
            auto path = isNumber ? covers->PathOf(number) : std::nullopt;
            if (!path) return std::nullopt;
            std::string why;
            auto picture = utils::LocalImageFile::Read(*path, utils::LocalImageFile::kMaximumBytes, &why);
            if (!picture) {
                Logger::Instance().LogError("WebView2Host: the playing cover is not shown: " + why);
                return std::nullopt;
            }
            return platform::ContentSchemeHandler::GeneratedFile{QByteArray::fromStdString(picture->mimeType),
                                                                 QByteArray::fromStdString(picture->bytes)};
        });
    environment->SetVirtualHostNameToFolderMapping(QString::fromStdString(ContentFolder()));

    Logger::Instance().LogInfo("WebView2Host: Initialize - calling Navigate");
    webView_->Navigate(StartUri());
    co_return;
}

void WebView2Host::PostWebMessageAsString(const std::string& text) {
    if (webView_) webView_->PostWebMessageAsString(QString::fromStdString(text));
}

void WebView2Host::Reload() {
    if (webView_) webView_->Reload();
}

void WebView2Host::SetWebPageRestarted(std::function<void()> handler) {
    if (webView_) webView_->SetPageRestarted(std::move(handler));
}

void WebView2Host::RegisterCoreEventHandlers(platform::WebView& webView,
                                             std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                             MessageCallback onMessage) {
    webView.SetWebMessageReceived(
        [dispatcher = std::move(dispatcher), onMessage = std::move(onMessage)](const QString& text) {
            // The page's handler may take its time or tear the view down; neither may happen inside the web
            // view's own event, so the text is copied and handed over through the dispatcher.
            dispatcher->RunAsync(
                [onMessage, message = text.toStdString()]() mutable { onMessage(std::move(message)); });
        });
}

}  // namespace velmora
