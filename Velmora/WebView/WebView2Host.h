#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QUrl>

#include "Platform/Foundation/Task.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "Platform/WebView/WebView.h"
#include "Velmora/WebView/IWebViewHost.h"

class QQuickItem;

namespace velmora {

// Puts the web view into the web-view page: a view with its own profile (user data in
// LocalFolder/WebView2) showing the packaged folder InstalledLocation/ui under the content origin, and
// every text the web page posts handed to one callback on the UI thread. The page posts its events
// through WebView(). The host lives as long as the page; UI thread only.
class WebView2Host final : public IWebViewHost {
public:
    WebView2Host();
    ~WebView2Host() override;
    WebView2Host(const WebView2Host&) = delete;
    WebView2Host& operator=(const WebView2Host&) = delete;

    // Creates the environment and the view in hostElement (filling it), registers the message path and
    // navigates to the start URI. Completes once navigation has been requested; any failure ends it with
    // the error, and nothing is retried.
    platform::Task<void> Initialize(QQuickItem* hostElement,
                                    std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                    MessageCallback onMessage) override;
    bool HasWebView() const override { return webView_ != nullptr; }
    void PostWebMessageAsString(const std::string& text) override;
    void Reload() override;
    void SetWebPageRestarted(std::function<void()> handler) override;
    // Served under WebBridge::kLocalCoverFolder: the granted file, if it is a picture (LocalImageFile).
    std::shared_ptr<utils::LocalCoverGrant> LocalCovers() const override { return localCovers_; }
    // Messages the page posts from now on go through the dispatcher to onMessage; earlier ones were dropped.
    static void RegisterCoreEventHandlers(platform::WebView& webView,
                                          std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                          MessageCallback onMessage);

    // Null until Initialize has created the view.
    platform::WebView* WebView() const { return webView_.get(); }

    static std::string UserDataFolder();
    static std::string ContentFolder();
    static QUrl StartUri();

private:
    std::unique_ptr<platform::WebView> webView_;
    const std::shared_ptr<utils::LocalCoverGrant> localCovers_ = std::make_shared<utils::LocalCoverGrant>();
};

}  // namespace velmora
