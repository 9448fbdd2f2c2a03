#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>
#include <QQuickItem>

#include "Platform/GameBar/IGameBarWidget.h"
#include "Platform/Storage/LocalSettings.h"
#include "Platform/Threading/ManualResetEvent.h"
#include "Platform/Ui/Page.h"
#include "Velmora/WebView/IWebViewHost.h"
#include "Velmora/WebView/WebBridge.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "VelmoraUtils/TokenManager.h"

class QQmlEngine;

namespace velmora {

// The page of the web front end. It owns the desktop link (connection and controller), the token manager
// and the web view host; it forwards the controller's playback, device and device-list events to the web
// page, runs the web page's commands through the bridge, sizes the widget window by the login state and
// keeps the expanded state in the local settings.
//
// Loaded and Unloaded are the page item's arrival in a window and its leaving it. Everything runs on the
// UI thread; controller events and asynchronous steps come back to it first and do nothing once the page
// is gone.
class CorvanaWidgetWebview final : public platform::Page,
                                   public std::enable_shared_from_this<CorvanaWidgetWebview> {
public:
    static constexpr const char* kOwnerName = "CorvanaWidgetWebview";

    // What the page reaches beyond itself through. Tests put doubles here.
    struct Services {
        std::function<std::unique_ptr<utils::IDesktopAPIConnection>()> makeConnection;
        std::function<std::unique_ptr<IWebViewHost>()> makeHost;
        std::function<utils::TokenManagerServices()> tokenManagerServices;
        // Empty: the home-feed client.
        FetchHomeFeed fetchHomeFeed;
        platform::LocalSettings* settings = nullptr;  // not owned; null keeps nothing
        // Opens the session log in the local cache folder.
        std::function<void()> openSessionLog;
        std::chrono::nanoseconds retryPeriod = utils::DesktopAPIController::kRetryPeriod;

        static Services Default();
    };

    // The page with its markup, its host and its controller, which starts connecting at once. Throws
    // PlatformError when the context holds no Game Bar widget or the markup cannot be made.
    static std::shared_ptr<CorvanaWidgetWebview> Create(const platform::PageContext& context,
                                                        Services services = Services::Default());
    static platform::PageFactory Factory();
    ~CorvanaWidgetWebview() override;
    CorvanaWidgetWebview(const CorvanaWidgetWebview&) = delete;
    CorvanaWidgetWebview& operator=(const CorvanaWidgetWebview&) = delete;

    QQuickItem* Item() const override { return item_; }
    void Shutdown() override;

    // Creates the token manager (on the first load only) and the bridge, initialises the host and registers
    // the controller callbacks, then waits until the page is unloaded or shut down. Started when the page
    // item enters a window.
    platform::Task<void> OnLoaded();
    void OnUnloaded();
    void RegisterWebViewCallbacks();
    void HandleWebMessage(const std::string& message);
    // The token manager's verdict, on the UI thread.
    void OnLoginStateChanged(bool loggedIn);
    // The token manager's whole state, on the UI thread. Player only and signing in show what plays
    // without the feed, at the collapsed size; signing in while signed in changes nothing until the
    // verdict.
    void OnSignInStateChanged(utils::TokenManager::SignInState state);
    // The host's display mode or requested opacity changed, on the UI thread.
    void OnDisplayStateChanged();
    platform::Task<void> ApplyLoggedInSizeAsync(bool expanded);
    platform::Task<void> ApplyLoggedOutSizeAsync();
    std::optional<bool> LoadPersistedExpandedState();
    void SavePersistedExpandedState(bool expanded);

    // For tests.
    bool IsAppReady() const { return bridge_ && bridge_->IsAppReady(); }
    const std::shared_ptr<utils::DesktopAPIController>& Controller() const { return controller_; }
    bool HasTokenManager() const { return tokenManager_ != nullptr; }

private:
    CorvanaWidgetWebview(const platform::PageContext& context, Services services,
                         std::shared_ptr<platform::IGameBarWidget> widget);
    void LoadMarkup(QQmlEngine& engine);
    platform::FireAndForget RunLoaded();
    // A bridge for the web page about to be shown, which has not said "appReady" yet.
    void StartBridge();
    // Signed in or out: the size, the session log and the bridge's login state.
    void ApplyLoginState(bool loggedIn);
    // The web view showed the packaged page anew by itself.
    void OnWebPageRestarted();
    void PostToWebView(const std::string& text);
    void RemoveWebViewCallbacks();
    void RemoveWidgetCallbacks();
    bool IsPinnedOnly() const;
    // Moves the window with the pointer, for the web page's empty areas.
    void StartWindowMove();

    const Services services_;
    const std::shared_ptr<platform::CoreDispatcher> dispatcher_;
    const std::shared_ptr<platform::IGameBarWidget> widget_;
    std::unique_ptr<IWebViewHost> host_;
    std::shared_ptr<utils::DesktopAPIController> controller_;
    std::shared_ptr<utils::TokenManager> tokenManager_;
    // The bridge of the web page now shown: it keeps "appReady" and the states still to be sent.
    std::shared_ptr<WebBridge> bridge_;
    std::shared_ptr<platform::ManualResetEvent> shutdownEvent_;
    utils::EventToken playbackStateToken_;
    utils::EventToken activeDeviceToken_;
    utils::EventToken devicesToken_;
    platform::IGameBarWidget::EventToken displayModeToken_ = 0;
    platform::IGameBarWidget::EventToken opacityToken_ = 0;
    bool pinnedOnly_ = false;
    // The last login state reported, and the expanded state sent with it, for a web page shown anew.
    std::optional<bool> loggedIn_;
    // The state as last reported to the bridge; none before the first.
    std::optional<utils::TokenManager::SignInState> signInState_;
    bool expanded_ = false;
    bool hostInitialized_ = false;
    bool shutDown_ = false;
    QPointer<QQuickItem> item_;
    QPointer<QQuickItem> webViewElement_;
};

}  // namespace velmora
