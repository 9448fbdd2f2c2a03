#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Task.h"
#include "Platform/GameBar/IGameBarWidget.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "Velmora/Common/HomeFeedFetch.h"
#include "Velmora/Common/IAccessTokenProvider.h"
#include "Velmora/Common/WidgetWindow.h"
#include "Velmora/WebView/IBridgeController.h"
#include "Velmora/WebView/PageTrafficLimit.h"
#include "VelmoraUtils/CorvanaClient.h"
#include "VelmoraUtils/DesktopApiTypes.h"
#include "VelmoraUtils/LocalCoverGrant.h"
#include "VelmoraUtils/TokenManager.h"

namespace velmora {

// What the bridge reaches outside itself through. The web-view page fills it in; tests put doubles here.
struct WebBridgeSeams {
    // The page's UI dispatcher: every run that waited comes back to it before touching the page.
    std::shared_ptr<platform::CoreDispatcher> dispatcher;
    std::shared_ptr<platform::IGameBarWidget> widget;
    std::shared_ptr<IBridgeController> controller;
    // The signed-in user's access token, read off the UI thread (it is a vault round trip).
    std::shared_ptr<IAccessTokenProvider> accessTokens;
    // The home-feed client; corvana_client::FetchHomeFeedAsync when left empty.
    FetchHomeFeed fetchHomeFeed;
    // Posts one event text to the web page, if the web view exists; called on the UI thread.
    std::function<void(const std::string& text)> postWebMessage;
    // Keeps the expanded state for the next session.
    std::function<void(bool expanded)> savePersistedExpandedState;
    // Moves the window with the pointer whose button is down; empty: the page cannot move it.
    std::function<void()> startWindowMove;
    // The local cover the page may load, which each playback state's cover decides; null: none.
    std::shared_ptr<utils::LocalCoverGrant> localCovers;
    // The clock of the page's command budgets; the steady clock when left empty.
    PageTrafficLimit::Now now;
};

// The native end of the page bridge: it runs the commands the web page sends (one text per message) and
// delivers the events it is given under the protocol's rules. It owns the page's bridge state: whether
// the web page has said "appReady", and the login and expanded states still to be sent when it does.
//
// HandleWebMessage, ReportLoginState and PageUnloaded run on the UI thread; the Post... methods take
// controller events on any thread. Runs that wait (launch, resize, home feed) hold the bridge weakly and
// end quietly once it is gone.
class WebBridge : public std::enable_shared_from_this<WebBridge> {
public:
    // No command is longer than a URI or a device id; a longer message is not one, and is not kept.
    static constexpr size_t kMaxMessageBytes = 64 * 1024;
    // What the page may make the native side do: a player's presses come nowhere near these. Commands of
    // one kind beyond their budget are dropped, with one ERROR line a second about the page's traffic.
    static constexpr double kCommandsPerSecond = 20;  // of each kind
    static constexpr double kLaunchesPerSecond = 1;   // of each of the two URI launches
    // Where under the content origin the host serves the playing state's local cover.
    static constexpr const char* kLocalCoverFolder = "local-cover";
    // The address of the local cover granted as `number`.
    static std::string LocalCoverUrl(uint64_t number);

    static std::shared_ptr<WebBridge> Create(WebBridgeSeams seams);

    // One message from the web page. Messages that are not commands are ignored without a line; one that
    // is too long, or names a command but is not valid UTF-8 text, with an ERROR line.
    void HandleWebMessage(std::string_view message);

    // The signed-in state as the page learns it: sent at once while the web page is ready, with the
    // expanded state when signed in; otherwise kept (the latest only) until "appReady".
    void ReportLoginState(bool loggedIn, bool expanded);
    // The same with the token manager's whole state: the event carries "signInState" as well.
    void ReportSignInState(utils::TokenManager::SignInState state, bool expanded);
    // The host's display mode or requested opacity changed: sent while the web page is ready (the page
    // learns them when it says "appReady" too).
    void ReportDisplayState();
    // The web page went away; a new one must say "appReady" before it is sent login states.
    void PageUnloaded();
    bool IsAppReady() const { return appReady_; }

    // Controller events: encoded on the calling thread, posted on the UI thread, whether or not the web
    // page has said "appReady".
    void PostPlaybackState(const desktop_api_types::PlaybackStateResponse& state);
    void PostActiveDevice(const desktop_api_types::ConnectActiveDeviceResponse& device);
    void PostDeviceList(const desktop_api_types::ConnectClusterResponse& cluster);

    // The widget's window setting that follows each resize: the player may resize the window by its
    // edges only while it is expanded.
    static void ApplyWindowSetting(platform::IGameBarWidget& widget, bool expanded);

private:
    explicit WebBridge(WebBridgeSeams seams);

    // The commands in the order they are tried.
    struct Command;
    static const std::vector<Command>& Commands();

    void Post(const std::string& text);
    // `signInState` empty: the event without it.
    void Report(bool loggedIn, std::string signInState, bool expanded);
    std::string EncodePendingLoginState() const;
    void PostFromAnyThread(std::string text);
    void PostDisplayState();
    // An ERROR line about what the page sent, at most one a second.
    void LogPageTraffic(std::string line);

    // Runs a command's asynchronous part; an error it raises ends in one log line naming the command.
    static platform::FireAndForget Contain(std::string_view command, platform::Task<void> run);
    static platform::Task<void> LaunchAsync(std::shared_ptr<platform::IGameBarWidget> widget,
                                            std::string uri);
    static platform::Task<void> ResizeAsync(std::shared_ptr<platform::IGameBarWidget> widget,
                                            WindowSize size);
    static platform::Task<void> SetExpandedAsync(std::weak_ptr<WebBridge> weak,
                                                 std::shared_ptr<platform::IGameBarWidget> widget,
                                                 std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                 bool expanded);
    static platform::Task<void> RequestHomeAsync(std::weak_ptr<WebBridge> weak,
                                                 std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                 std::shared_ptr<IAccessTokenProvider> accessTokens,
                                                 FetchHomeFeed fetch);

    const WebBridgeSeams seams_;
    PageTrafficLimit limit_;

    bool appReady_ = false;
    bool loggedIn_ = false;
    std::string signInState_;
    bool loginPending_ = false;
    bool expanded_ = false;
    bool expandedPending_ = false;
};

}  // namespace velmora
