#pragma once

#include <functional>
#include <memory>

#include <QPointer>
#include <QQuickItem>
#include <QString>
#include <QUrl>

#include "Platform/WebView/WebViewEnvironment.h"

namespace platform {

class WebMessageBridge;

// One web view in a Qt Quick scene: the view item filling its host item, the web channel with the one
// bridge object, and the page policy. Texts go both ways as strings, as the page's window.chrome.webview
// expects. Qt Quick forwards pointer, cursor, focus and scale changes to the view itself. The view takes
// every press, so a right click on the page opens the menu of the window's decoration (Window).
class WebView {
public:
    using MessageHandler = std::function<void(const QString& text)>;

    // Throws PlatformError when the host item is not in a QML scene or the view cannot be made.
    static std::unique_ptr<WebView> Create(std::shared_ptr<WebViewEnvironment> environment,
                                           QQuickItem* hostItem);
    // Destroys the view before releasing the environment, which a profile requires.
    ~WebView();
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    void Navigate(const QUrl& url);
    // Loads the current document anew.
    void Reload();
    // Delivered to the page's 'message' listeners; dropped while the page has none or is still loading.
    void PostWebMessageAsString(const QString& text);
    // Called on the UI thread, inside the web view's own event, for each text the page posts. Texts posted
    // while no handler is set are dropped.
    void SetWebMessageReceived(MessageHandler handler);
    // Called on the UI thread when the page's renderer ended and the view is about to load the page anew:
    // a new document, which knows nothing of the one before.
    void SetPageRestarted(std::function<void()> handler);

    // The view item (a QtWebEngine WebEngineView); null once its host item destroyed it.
    QQuickItem* Item() const { return item_; }
    QUrl Url() const;

private:
    WebView() = default;

    std::shared_ptr<WebViewEnvironment> environment_;
    QPointer<QQuickItem> item_;
    QPointer<WebMessageBridge> bridge_;
    std::function<void()> pageRestarted_;
};

}  // namespace platform
