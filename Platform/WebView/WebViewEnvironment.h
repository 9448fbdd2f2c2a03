#pragma once

#include <memory>

#include <QString>
#include <QWebEngineScript>

#include "Platform/WebView/ContentSchemeHandler.h"
#include "Platform/WebView/ExtraCertificateAuthority.h"

class QQuickWebEngineProfile;

namespace platform {

class ContentRequestInterceptor;

// The browser profile web views run in: its own storage in a user data folder, the request rules that
// keep pages inside the content origin, the bridge shim for every view, and the trusted extra CA. One
// environment per folder and process; views share it and keep it alive, since a profile must outlive
// its views.
class WebViewEnvironment {
public:
    // userDataFolder must be absolute (a relative one stalls the page's storage without a word); it is
    // created when missing. Throws PlatformError when it cannot be.
    static std::shared_ptr<WebViewEnvironment> ForFolder(const QString& userDataFolder);
    ~WebViewEnvironment();
    WebViewEnvironment(const WebViewEnvironment&) = delete;
    WebViewEnvironment& operator=(const WebViewEnvironment&) = delete;

    // Serves `folder` under the content origin, replacing an earlier mapping. Throws PlatformError when
    // the folder does not exist.
    void SetVirtualHostNameToFolderMapping(const QString& folder);
    // Files made on request under `folder` of the content origin (see ContentSchemeHandler), from the
    // next mapping on.
    void SetGeneratedFiles(QString folder, ContentSchemeHandler::Generator generator);

    // The script that gives every page window.chrome.webview, to be put into each view's scripts. Not the
    // profile's: a renderer started after one that ended does not get the profile's scripts (QtWebEngine
    // 6.4), but it does get the view's.
    static QWebEngineScript BridgeShim();

    QQuickWebEngineProfile* Profile() const { return profile_.get(); }
    const QString& UserDataFolder() const { return userDataFolder_; }
    const std::shared_ptr<const ExtraCertificateAuthority>& CertificateAuthority() const {
        return authority_;
    }

private:
    explicit WebViewEnvironment(QString userDataFolder);

    QString userDataFolder_;
    std::shared_ptr<const ExtraCertificateAuthority> authority_;
    // Declared before the profile, so it is destroyed after it: the profile calls it until it is gone.
    std::unique_ptr<ContentRequestInterceptor> interceptor_;
    std::unique_ptr<QQuickWebEngineProfile> profile_;
    ContentSchemeHandler* handler_ = nullptr;  // owned by the profile
    QString generatedFolder_;
    ContentSchemeHandler::Generator generator_;
};

}  // namespace platform
