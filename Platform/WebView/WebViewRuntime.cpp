#include "Platform/WebView/WebViewRuntime.h"

#include <unistd.h>

#include <QByteArray>
#include <QWebEngineUrlScheme>
#include <QtWebEngineQuick/QtWebEngineQuick>

#include "Platform/WebView/WebContentOrigin.h"

namespace platform {

void WebViewRuntime::InitializeBeforeApplication() {
    static bool initialized = false;
    if (initialized) return;
    initialized = true;

    QWebEngineUrlScheme scheme(WebContentOrigin::Scheme());
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // Secure, so the page is a secure context (storage, modern APIs) and may show images over HTTPS
    // without mixed-content downgrades; nothing more is granted to it.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);

    // Chromium refuses to start its sandbox as root; without this flag the web view would not start at all.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }

    QtWebEngineQuick::initialize();
}

}  // namespace platform
