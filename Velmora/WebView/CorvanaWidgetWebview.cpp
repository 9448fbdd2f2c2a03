#include "Velmora/WebView/CorvanaWidgetWebview.h"

#include <exception>
#include <utility>

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Storage/ApplicationData.h"
#include "Platform/Ui/Window.h"
#include "Velmora/Common/TokenManagerAccessTokenProvider.h"
#include "Velmora/Common/WidgetWindow.h"
#include "Velmora/WebView/DesktopBridgeController.h"
#include "Velmora/WebView/WebView2Host.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/Logger.h"

namespace velmora {

using platform::PlatformError;
using utils::Logger;

namespace {

constexpr const char* kMarkupUrl = "qrc:/velmora/webpage/CorvanaWidgetWebview.qml";
constexpr const char* kWebViewElementName = "webViewElement";

}  // namespace

CorvanaWidgetWebview::Services CorvanaWidgetWebview::Services::Default() {
    Services services;
    services.makeConnection = [] { return std::make_unique<utils::DesktopAPIConnection>(); };
    services.makeHost = [] { return std::make_unique<WebView2Host>(); };
    services.tokenManagerServices = [] { return utils::TokenManagerServices::Default(); };
    services.settings = &platform::ApplicationData::Current().LocalSettings();
    services.openSessionLog = [] {
        Logger::Instance().Initialize(platform::ApplicationData::Current().LocalCacheFolder());
    };
    return services;
}

std::shared_ptr<CorvanaWidgetWebview> CorvanaWidgetWebview::Create(const platform::PageContext& context,
                                                                   Services services) {
    const auto* widget = context.ParameterAs<std::shared_ptr<platform::IGameBarWidget>>();
    if (!widget || !*widget) {
        throw PlatformError(platform::E_POINTER,
                            "CorvanaWidgetWebview: no Game Bar widget to show the page in");
    }
    std::shared_ptr<CorvanaWidgetWebview> page(
        new CorvanaWidgetWebview(context, std::move(services), *widget));
    page->LoadMarkup(context.engine);

    // Loaded and Unloaded: the frame puts the item into its window after this returns, and takes it out
    // when the window closes.
    std::weak_ptr<CorvanaWidgetWebview> weak = page;
    QObject::connect(page->item_, &QQuickItem::windowChanged, page->item_, [weak](QQuickWindow* window) {
        auto self = weak.lock();
        if (!self) return;
        if (window) {
            self->RunLoaded();
        } else {
            self->OnUnloaded();
        }
    });

    // The host raises these on the UI thread.
    page->pinnedOnly_ = page->IsPinnedOnly();
    auto onDisplayState = [weak] {
        if (auto self = weak.lock()) self->OnDisplayStateChanged();
    };
    page->displayModeToken_ = page->widget_->GameBarDisplayModeChanged(onDisplayState);
    page->opacityToken_ = page->widget_->RequestedOpacityChanged(onDisplayState);

    auto connecting = page->controller_->ConnectAsync();
    return page;
}

platform::PageFactory CorvanaWidgetWebview::Factory() {
    return [](const platform::PageContext& context) -> std::shared_ptr<platform::Page> {
        return Create(context);
    };
}

CorvanaWidgetWebview::CorvanaWidgetWebview(const platform::PageContext& context, Services services,
                                           std::shared_ptr<platform::IGameBarWidget> widget)
    : services_(std::move(services)), dispatcher_(context.dispatcher), widget_(std::move(widget)) {
    host_ = services_.makeHost();
    controller_ = utils::DesktopAPIController::Create(services_.makeConnection(), utils::WidgetMode::WebView,
                                                      services_.retryPeriod);
}

CorvanaWidgetWebview::~CorvanaWidgetWebview() {
    Shutdown();
    // The web view lives in the markup and goes first; the markup follows.
    host_.reset();
    delete item_.data();
}

void CorvanaWidgetWebview::LoadMarkup(QQmlEngine& engine) {
    QQmlComponent component(&engine, QUrl(QString::fromLatin1(kMarkupUrl)));
    QObject* root = component.isReady() ? component.create() : nullptr;
    item_ = qobject_cast<QQuickItem*>(root);
    if (!item_) {
        delete root;
        throw PlatformError(platform::E_FAIL,
                            "CorvanaWidgetWebview: markup failed: " + component.errorString().toStdString());
    }
    QQmlEngine::setObjectOwnership(item_, QQmlEngine::CppOwnership);
    webViewElement_ = item_->findChild<QQuickItem*>(QLatin1String(kWebViewElementName));
    if (!webViewElement_) {
        delete item_.data();
        throw PlatformError(platform::E_FAIL, "CorvanaWidgetWebview: the markup has no web view element");
    }
}

platform::FireAndForget CorvanaWidgetWebview::RunLoaded() {
    if (shutDown_) co_return;
    try {
        co_await OnLoaded();
    } catch (const PlatformError& error) {
        Logger::Instance().LogError("CorvanaWidgetWebview: OnLoaded failed: " + error.message());
    } catch (const std::exception& error) {
        Logger::Instance().LogError(std::string("CorvanaWidgetWebview: OnLoaded failed: ") + error.what());
    } catch (...) {
        Logger::Instance().LogError("CorvanaWidgetWebview: OnLoaded failed");
    }
}

platform::Task<void> CorvanaWidgetWebview::OnLoaded() {
    auto self = shared_from_this();
    std::weak_ptr<CorvanaWidgetWebview> weak = self;

    auto shutdown = std::make_shared<platform::ManualResetEvent>(false);
    shutdownEvent_ = shutdown;

    // A page loaded anew keeps its token manager: the desktop app reports a login only when it changes, so
    // a new manager would know no user (no access token for the feed) and keep no refresh timer.
    if (!tokenManager_) {
        tokenManager_ = utils::TokenManager::Create(
            controller_, dispatcher_,
            utils::TokenManager::SignInStateCallback([weak](utils::TokenManager::SignInState state) {
                if (auto page = weak.lock()) page->OnSignInStateChanged(state);
            }),
            kOwnerName, services_.tokenManagerServices());
    }

    StartBridge();

    Logger::Instance().LogInfo("CorvanaWidgetWebview: OnLoaded - starting Initialize");
    if (!hostInitialized_) {
        // Started outside the co_await expression: GCC 12 destroys some temporaries of such an expression
        // twice, here the callback and the weak reference it holds.
        IWebViewHost::MessageCallback onMessage = [weak](std::string message) {
            if (auto page = weak.lock()) page->HandleWebMessage(message);
        };
        auto initializing = host_->Initialize(webViewElement_, dispatcher_, std::move(onMessage));
        co_await initializing;
        hostInitialized_ = true;
        host_->SetWebPageRestarted([weak] {
            if (auto page = weak.lock()) page->OnWebPageRestarted();
        });
    } else {
        host_->Reload();
    }
    // Shut down or unloaded while the host was starting: nothing is registered that nobody would remove.
    if (shutdown->IsSet()) co_return;
    Logger::Instance().LogInfo(
        "CorvanaWidgetWebview: OnLoaded - Initialize complete, registering WebView callbacks");
    RegisterWebViewCallbacks();

    // The wait holds only the event, so that the page can go while it waits.
    self.reset();
    co_await *shutdown;
}

void CorvanaWidgetWebview::StartBridge() {
    std::weak_ptr<CorvanaWidgetWebview> weak = weak_from_this();
    WebBridgeSeams seams;
    seams.dispatcher = dispatcher_;
    seams.widget = widget_;
    seams.controller = std::make_shared<DesktopBridgeController>(controller_);
    seams.accessTokens = std::make_shared<TokenManagerAccessTokenProvider>(tokenManager_);
    seams.fetchHomeFeed = services_.fetchHomeFeed;
    seams.postWebMessage = [weak](const std::string& text) {
        if (auto page = weak.lock()) page->PostToWebView(text);
    };
    seams.startWindowMove = [weak] {
        if (auto page = weak.lock()) page->StartWindowMove();
    };
    seams.localCovers = host_ ? host_->LocalCovers() : nullptr;
    seams.savePersistedExpandedState = [weak](bool expanded) {
        auto page = weak.lock();
        if (!page) return;
        page->expanded_ = expanded;
        page->SavePersistedExpandedState(expanded);
    };
    bridge_ = WebBridge::Create(std::move(seams));
    // A web page shown anew learns the login state when it says "appReady", like the first one did.
    if (signInState_) {
        bridge_->ReportSignInState(*signInState_, expanded_);
    } else if (loggedIn_) {
        bridge_->ReportLoginState(*loggedIn_, expanded_);
    }
}

void CorvanaWidgetWebview::OnWebPageRestarted() {
    if (shutDown_ || !bridge_) return;
    bridge_->PageUnloaded();
    StartBridge();
    // The controller's events go to the bridge they were registered with.
    RegisterWebViewCallbacks();
}

void CorvanaWidgetWebview::OnUnloaded() {
    if (bridge_) bridge_->PageUnloaded();
    if (shutdownEvent_) shutdownEvent_->Set();
}

void CorvanaWidgetWebview::RegisterWebViewCallbacks() {
    RemoveWebViewCallbacks();
    // The bridge encodes each event on the thread that raised it and posts it on the UI thread.
    std::weak_ptr<WebBridge> bridge = bridge_;
    playbackStateToken_ = controller_->PlaybackStateChanged.Add([bridge](const auto& state) {
        if (auto target = bridge.lock()) target->PostPlaybackState(state);
    });
    activeDeviceToken_ = controller_->ActiveDeviceChanged.Add([bridge](const auto& device) {
        if (auto target = bridge.lock()) target->PostActiveDevice(device);
    });
    devicesToken_ = controller_->DevicesChanged.Add([bridge](const auto& cluster) {
        if (auto target = bridge.lock()) target->PostDeviceList(cluster);
    });
}

void CorvanaWidgetWebview::RemoveWebViewCallbacks() {
    if (playbackStateToken_) controller_->PlaybackStateChanged.Remove(std::exchange(playbackStateToken_, {}));
    if (activeDeviceToken_) controller_->ActiveDeviceChanged.Remove(std::exchange(activeDeviceToken_, {}));
    if (devicesToken_) controller_->DevicesChanged.Remove(std::exchange(devicesToken_, {}));
}

void CorvanaWidgetWebview::RemoveWidgetCallbacks() {
    if (displayModeToken_) widget_->GameBarDisplayModeChanged(std::exchange(displayModeToken_, 0));
    if (opacityToken_) widget_->RequestedOpacityChanged(std::exchange(opacityToken_, 0));
}

bool CorvanaWidgetWebview::IsPinnedOnly() const {
    return widget_->DisplayMode() == platform::GameBarDisplayMode::PinnedOnly;
}

void CorvanaWidgetWebview::OnDisplayStateChanged() {
    if (shutDown_) return;
    if (bridge_) bridge_->ReportDisplayState();
    const bool pinnedOnly = IsPinnedOnly();
    if (pinnedOnly == std::exchange(pinnedOnly_, pinnedOnly)) return;
    // Signed in, the window shrinks to the now-playing block while pinned and takes the size of the
    // expanded state back after; signed out, it keeps its size.
    if (loggedIn_.value_or(false)) {
        auto sizing = ApplyLoggedInSizeAsync(expanded_);
    } else if (signInState_ == utils::TokenManager::SignInState::PlayerOnly ||
               signInState_ == utils::TokenManager::SignInState::SigningIn) {
        auto sizing = ApplyLoggedInSizeAsync(false);
    }
}

void CorvanaWidgetWebview::StartWindowMove() {
    if (!item_) return;
    if (auto window = platform::Window::Of(item_->window())) window->StartDecorationMove();
}

void CorvanaWidgetWebview::HandleWebMessage(const std::string& message) {
    if (bridge_) bridge_->HandleWebMessage(message);
}

void CorvanaWidgetWebview::PostToWebView(const std::string& text) {
    if (host_ && host_->HasWebView()) host_->PostWebMessageAsString(text);
}

void CorvanaWidgetWebview::OnSignInStateChanged(utils::TokenManager::SignInState state) {
    using State = utils::TokenManager::SignInState;
    if (state == State::SignedIn || state == State::SignedOut) {
        signInState_ = state;
        ApplyLoginState(state == State::SignedIn);
        return;
    }
    if (state == State::RetryingSignIn) {
        // Shown as signing in, but it is a verdict: a feed shown so far goes until a try works.
        state = State::SigningIn;
    } else if (state == State::SigningIn && loggedIn_.value_or(false)) {
        return;  // signed in already, the feed stays until the verdict
    }
    if (state == State::PlayerOnly && services_.openSessionLog) services_.openSessionLog();
    if (signInState_ != state) {
        auto sizing = ApplyLoggedInSizeAsync(false);
    }
    loggedIn_ = false;
    expanded_ = false;
    signInState_ = state;
    if (bridge_) bridge_->ReportSignInState(state, false);
}

void CorvanaWidgetWebview::OnLoginStateChanged(bool loggedIn) {
    signInState_.reset();
    ApplyLoginState(loggedIn);
}

void CorvanaWidgetWebview::ApplyLoginState(bool loggedIn) {
    if (loggedIn && services_.openSessionLog) services_.openSessionLog();
    bool expanded = false;
    if (loggedIn) {
        expanded = LoadPersistedExpandedState().value_or(true);
        auto sizing = ApplyLoggedInSizeAsync(expanded);
    } else {
        auto sizing = ApplyLoggedOutSizeAsync();
    }
    loggedIn_ = loggedIn;
    expanded_ = expanded;
    if (!bridge_) return;
    if (signInState_) {
        bridge_->ReportSignInState(*signInState_, expanded);
    } else {
        bridge_->ReportLoginState(loggedIn, expanded);
    }
}

platform::Task<void> CorvanaWidgetWebview::ApplyLoggedInSizeAsync(bool expanded) {
    auto dispatcher = dispatcher_;
    auto widget = widget_;
    std::weak_ptr<CorvanaWidgetWebview> weak = weak_from_this();
    try {
        const bool pinnedOnly = IsPinnedOnly();
        const WindowSize size = pinnedOnly ? web_page::kPinnedOnlySize
                                : expanded ? kExpandedSize
                                           : web_page::kCollapsedSize;
        if (!co_await widget->TryResizeWindowAsync(size.width, size.height)) {
            Logger::Instance().LogError("CorvanaWidgetWebview: ApplyLoggedInSizeAsync resize failed");
            co_return;
        }
        co_await platform::ResumeForeground(dispatcher);
        if (weak.expired()) co_return;
        WebBridge::ApplyWindowSetting(*widget, expanded && !pinnedOnly);
    } catch (const PlatformError& error) {
        Logger::Instance().LogError("CorvanaWidgetWebview: ApplyLoggedInSizeAsync exception: " +
                                    error.message());
    } catch (...) {
        Logger::Instance().LogError("CorvanaWidgetWebview: ApplyLoggedInSizeAsync unknown exception");
    }
}

platform::Task<void> CorvanaWidgetWebview::ApplyLoggedOutSizeAsync() {
    auto dispatcher = dispatcher_;
    auto widget = widget_;
    std::weak_ptr<CorvanaWidgetWebview> weak = weak_from_this();
    try {
        if (!co_await widget->TryResizeWindowAsync(kLoggedOutSize.width, kLoggedOutSize.height)) {
            Logger::Instance().LogError("CorvanaWidgetWebview: ApplyLoggedOutSizeAsync resize failed");
            co_return;
        }
        co_await platform::ResumeForeground(dispatcher);
        if (weak.expired()) co_return;
        WebBridge::ApplyWindowSetting(*widget, false);
    } catch (const PlatformError& error) {
        Logger::Instance().LogError("CorvanaWidgetWebview: ApplyLoggedOutSizeAsync exception: " +
                                    error.message());
    } catch (...) {
        Logger::Instance().LogError("CorvanaWidgetWebview: ApplyLoggedOutSizeAsync unknown exception");
    }
}

std::optional<bool> CorvanaWidgetWebview::LoadPersistedExpandedState() {
    try {
        if (!services_.settings) return std::nullopt;
        auto stored = services_.settings->Lookup(kExpandedSetting);
        if (stored && stored->Kind() == platform::ValueKind::Boolean) return stored->AsBoolean();
        return std::nullopt;
    } catch (...) {
        Logger::Instance().LogError("CorvanaWidgetWebview: LoadPersistedExpandedState failed");
        return std::nullopt;
    }
}

void CorvanaWidgetWebview::SavePersistedExpandedState(bool expanded) {
    if (!services_.settings) return;
    try {
        if (!services_.settings->Insert(kExpandedSetting, platform::Value(expanded))) {
            throw PlatformError(platform::E_FAIL, "the setting was not written");
        }
    } catch (...) {
        Logger::Instance().LogError("CorvanaWidgetWebview: SavePersistedExpandedState failed");
    }
}

void CorvanaWidgetWebview::Shutdown() {
    shutDown_ = true;
    if (tokenManager_) {
        tokenManager_->Stop();
        tokenManager_.reset();
    }
    RemoveWebViewCallbacks();
    RemoveWidgetCallbacks();
    if (shutdownEvent_) shutdownEvent_->Set();
}

}  // namespace velmora
