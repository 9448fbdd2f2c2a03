#include "Velmora/WebView/WebBridge.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <utility>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/WebView/WebContentOriginName.h"
#include "Velmora/Common/WidgetRequests.h"
#include "Velmora/WebView/BridgeEvents.h"
#include "VelmoraUtils/Logger.h"
#include "VelmoraUtils/Utf8Text.h"

namespace velmora {

using namespace bridge_events;
using platform::CoreDispatcher;
using platform::IGameBarWidget;
using platform::Task;
using utils::Logger;
using utils::PlaybackAction;

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The blanks the platform's number parsers skip before a number.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading blanks and an optional sign; true for a minus.
bool TakeSign(std::string_view& text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
    const bool negative = text.front() == '-';
    text.remove_prefix(1);
    return negative;
}

// A decimal number at the start of the text, as a fraction of full volume. Only a finite decimal number
// counts: the platform's parser would also take "nan", "inf" and hexadecimal, and a NaN passes every
// range check on its way to the desktop app.
std::optional<double> ParseVolume(std::string_view text) {
    const bool negative = TakeSign(text);
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return std::nullopt;
    const bool startsNumber =
        !text.empty() && (IsDigit(text[0]) || (text[0] == '.' && text.size() > 1 && IsDigit(text[1])));
    if (!startsNumber) return std::nullopt;
    double value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) return std::nullopt;
    if (negative) value = -value;
    if (!std::isfinite(value) || value < 0 || value > 1) return std::nullopt;
    return value == 0 ? 0.0 : value;  // no negative zero
}

// A base-10 position in milliseconds at the start of the text. Negative positions and those beyond the
// controller's 32-bit argument, which would wrap to another position, are refused.
std::optional<int32_t> ParseSeekPosition(std::string_view text) {
    const bool negative = TakeSign(text);
    int64_t value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) return std::nullopt;
    if (value < 0 || (negative && value != 0) || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

// Why a message that names a command is not taken as one; empty when it may be. The reason never quotes
// the message.
std::string Unacceptable(std::string_view message) {
    if (message.find('\0') != std::string_view::npos) return "a message with a NUL character";
    if (!utils::Utf8Text::IsValid(message)) return "a message that is not valid UTF-8";
    return {};
}

// Each launch starts a URI handler on the desktop: the page gets far fewer of those than of other commands.
// Each of the two has a budget of its own, so that one press on each of two buttons both count.
double BudgetOf(std::string_view command) {
    return command == "launchCorvana" || command == "openCorvana" ? WebBridge::kLaunchesPerSecond
                                                                  : WebBridge::kCommandsPerSecond;
}

void LogFailure(std::string_view command, std::string_view what) {
    Logger::Instance().LogError("CorvanaWidgetWebview::HandleWebMessage - \"" + std::string(command) +
                                "\" failed: " + std::string(what));
}

}  // namespace

struct WebBridge::Command {
    enum class Match { WholeName, Prefix };
    std::string_view name;
    Match match;
    void (*run)(WebBridge& bridge, std::string_view command, std::string_view argument);
};

const std::vector<WebBridge::Command>& WebBridge::Commands() {
    using M = Command::Match;
    static const std::vector<Command> commands = {
        {"appReady", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) {
             const bool wasReady = std::exchange(b.appReady_, true);
             if (b.loginPending_) {
                 b.loginPending_ = false;
                 b.Post(b.EncodePendingLoginState());
             }
             if (b.expandedPending_) {
                 b.expandedPending_ = false;
                 b.Post(EncodeExpandedState(b.expanded_));
             }
             if (!wasReady) b.PostDisplayState();
         }},
        {"launchCorvana", M::WholeName,
         [](WebBridge& b, std::string_view command, std::string_view) {
             Contain(command, LaunchAsync(b.seams_.widget, std::string(kOpenMinimizedFromWidgetUri)));
         }},
        {"openCorvana", M::WholeName,
         [](WebBridge& b, std::string_view command, std::string_view) {
             Contain(command, LaunchAsync(b.seams_.widget, std::string(kOpenUri)));
         }},
        {"pausePlayback", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) {
             b.seams_.controller->ModifyPlaybackState(PlaybackAction::Pause, {});
         }},
        {"resumePlayback", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) {
             b.seams_.controller->ModifyPlaybackState(PlaybackAction::Resume, {});
         }},
        {"skipNext", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) {
             b.seams_.controller->ModifyPlaybackState(PlaybackAction::Next, {});
         }},
        {"skipPrevious", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) {
             b.seams_.controller->ModifyPlaybackState(PlaybackAction::Previous, {});
         }},
        {"setShuffle:", M::Prefix,
         [](WebBridge& b, std::string_view, std::string_view argument) {
             b.seams_.controller->SetShuffle(argument == "true");
         }},
        {"setRepeat:", M::Prefix,
         [](WebBridge& b, std::string_view, std::string_view argument) {
             b.seams_.controller->SetRepeat(std::string(argument));
         }},
        {"playContext:", M::Prefix,
         [](WebBridge& b, std::string_view, std::string_view argument) {
             b.seams_.controller->ModifyPlaybackState(PlaybackAction::Play, std::string(argument));
         }},
        {"setVolume:", M::Prefix,
         [](WebBridge& b, std::string_view, std::string_view argument) {
             if (auto volume = ParseVolume(argument)) b.seams_.controller->SetVolume(*volume);
         }},
        {"requestDevices", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) { b.seams_.controller->RequestDevices(); }},
        {"requestPlaybackState", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) {
             b.seams_.controller->RequestPlaybackState();
         }},
        {"transferPlayback:", M::Prefix,
         [](WebBridge& b, std::string_view, std::string_view argument) {
             b.seams_.controller->TransferPlayback(std::string(argument));
         }},
        {"likeTrack:", M::Prefix,
         [](WebBridge& b, std::string_view, std::string_view argument) {
             b.seams_.controller->LikeTrack(std::string(argument));
         }},
        {"unlikeTrack:", M::Prefix,
         [](WebBridge& b, std::string_view, std::string_view argument) {
             b.seams_.controller->UnlikeTrack(std::string(argument));
         }},
        {"setWidgetSize:", M::Prefix,
         [](WebBridge& b, std::string_view command, std::string_view argument) {
             if (argument == "expanded") Contain(command, ResizeAsync(b.seams_.widget, kExpandedSize));
             if (argument == "collapsed")
                 Contain(command, ResizeAsync(b.seams_.widget, web_page::kCollapsedSize));
         }},
        {"setExpanded:", M::Prefix,
         [](WebBridge& b, std::string_view command, std::string_view argument) {
             Contain(command, SetExpandedAsync(b.weak_from_this(), b.seams_.widget, b.seams_.dispatcher,
                                               argument == "true"));
         }},
        {"seekForward15", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) { b.seams_.controller->Seek(kSkipMs, true); }},
        {"seekBackward15", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) { b.seams_.controller->Seek(-kSkipMs, true); }},
        {"seekTo:", M::Prefix,
         [](WebBridge& b, std::string_view, std::string_view argument) {
             if (auto position = ParseSeekPosition(argument)) b.seams_.controller->Seek(*position, false);
         }},
        {"requestHome", M::WholeName,
         [](WebBridge& b, std::string_view command, std::string_view) {
             Contain(command, RequestHomeAsync(b.weak_from_this(), b.seams_.dispatcher, b.seams_.accessTokens,
                                               b.seams_.fetchHomeFeed));
         }},
        {"startWindowMove", M::WholeName,
         [](WebBridge& b, std::string_view, std::string_view) {
             if (b.seams_.startWindowMove) b.seams_.startWindowMove();
         }},
    };
    return commands;
}

std::shared_ptr<WebBridge> WebBridge::Create(WebBridgeSeams seams) {
    if (!seams.dispatcher || !seams.widget || !seams.controller || !seams.accessTokens ||
        !seams.postWebMessage || !seams.savePersistedExpandedState) {
        throw platform::PlatformError(platform::E_POINTER, "WebBridge: a seam is missing");
    }
    if (!seams.fetchHomeFeed) seams.fetchHomeFeed = DefaultFetchHomeFeed();
    return std::shared_ptr<WebBridge>(new WebBridge(std::move(seams)));
}

WebBridge::WebBridge(WebBridgeSeams seams)
    : seams_(std::move(seams)), limit_(seams_.now ? seams_.now : PageTrafficLimit::Clock::now) {}

void WebBridge::HandleWebMessage(std::string_view message) {
    if (message.size() > kMaxMessageBytes) {
        LogPageTraffic("CorvanaWidgetWebview::HandleWebMessage - ignored a message of " +
                       std::to_string(message.size()) + " bytes");
        return;
    }
    const Command* command = nullptr;
    const Command* named = nullptr;  // the command the message begins with, even if it is not that one
    for (const auto& candidate : Commands()) {
        if (!message.starts_with(candidate.name)) continue;
        if (!named) named = &candidate;
        if (candidate.match == Command::Match::Prefix || message.size() == candidate.name.size()) {
            command = &candidate;
            break;
        }
    }
    if (!named) return;  // no command at all: ignored without a line
    if (auto reason = Unacceptable(message); !reason.empty()) {
        LogPageTraffic("CorvanaWidgetWebview::HandleWebMessage - ignored " + reason);
        return;
    }
    if (!command) return;
    const double perSecond = BudgetOf(command->name);
    if (!limit_.Admit(command->name, perSecond)) {
        LogPageTraffic("CorvanaWidgetWebview::HandleWebMessage - dropped \"" + std::string(command->name) +
                       "\": the page sent more than " + std::to_string(static_cast<int>(perSecond)) +
                       " a second");
        return;
    }
    try {
        command->run(*this, command->name, message.substr(command->name.size()));
    } catch (const std::exception& error) {
        LogFailure(command->name, error.what());
    } catch (...) {
        LogFailure(command->name, "unknown error");
    }
}

void WebBridge::LogPageTraffic(std::string line) {
    auto heldBack = limit_.MayLog();
    if (!heldBack) return;
    if (*heldBack > 0) line += " (and " + std::to_string(*heldBack) + " more since the last such line)";
    Logger::Instance().LogError(line);
}

void WebBridge::ReportLoginState(bool loggedIn, bool expanded) {
    Report(loggedIn, {}, expanded);
}

void WebBridge::ReportSignInState(utils::TokenManager::SignInState state, bool expanded) {
    using State = utils::TokenManager::SignInState;
    const char* name = state == State::SignedIn                                      ? "signedIn"
                       : state == State::SigningIn || state == State::RetryingSignIn ? "signingIn"
                       : state == State::PlayerOnly                                  ? "playerOnly"
                                                                                     : "signedOut";
    Report(state == State::SignedIn, name, expanded);
}

std::string WebBridge::EncodePendingLoginState() const {
    return signInState_.empty() ? EncodeLoginStateChanged(loggedIn_) : EncodeLoginStateChanged(signInState_);
}

std::string WebBridge::LocalCoverUrl(uint64_t number) {
    return std::string(platform::kWebContentOrigin) + '/' + kLocalCoverFolder + '/' + std::to_string(number);
}

void WebBridge::Report(bool loggedIn, std::string signInState, bool expanded) {
    if (appReady_) {
        Post(signInState.empty() ? EncodeLoginStateChanged(loggedIn) : EncodeLoginStateChanged(signInState));
        if (loggedIn) Post(EncodeExpandedState(expanded));
        return;
    }
    signInState_ = std::move(signInState);
    loggedIn_ = loggedIn;
    loginPending_ = true;
    expanded_ = loggedIn && expanded;
    expandedPending_ = loggedIn;
}

void WebBridge::ReportDisplayState() {
    if (appReady_) PostDisplayState();
}

void WebBridge::PostDisplayState() {
    const auto& widget = *seams_.widget;
    Post(EncodeDisplayState(widget.DisplayMode() == platform::GameBarDisplayMode::PinnedOnly,
                            widget.RequestedOpacity()));
}

void WebBridge::PageUnloaded() {
    appReady_ = false;
    loginPending_ = false;
}

void WebBridge::PostPlaybackState(const desktop_api_types::PlaybackStateResponse& state) {
    // The grant follows every state, so that the file of a state gone by is not served any more.
    std::string localImage;
    if (seams_.localCovers) {
        if (uint64_t number = seams_.localCovers->Follow(state.track ? state.track->image : std::string()))
            localImage = LocalCoverUrl(number);
    }
    PostFromAnyThread(EncodePlaybackState(state, localImage));
}

void WebBridge::PostActiveDevice(const desktop_api_types::ConnectActiveDeviceResponse& device) {
    PostFromAnyThread(EncodeActiveDevice(device));
}

void WebBridge::PostDeviceList(const desktop_api_types::ConnectClusterResponse& cluster) {
    PostFromAnyThread(EncodeDeviceList(cluster));
}

void WebBridge::ApplyWindowSetting(IGameBarWidget& widget, bool expanded) {
    widget.HorizontalResizeSupported(expanded);
    widget.VerticalResizeSupported(expanded);
}

void WebBridge::Post(const std::string& text) {
    seams_.postWebMessage(text);
}

void WebBridge::PostFromAnyThread(std::string text) {
    seams_.dispatcher->RunAsync([weak = weak_from_this(), text = std::move(text)] {
        if (auto self = weak.lock()) self->Post(text);
    });
}

platform::FireAndForget WebBridge::Contain(std::string_view command, Task<void> run) {
    try {
        co_await std::move(run);
    } catch (const std::exception& error) {
        LogFailure(command, error.what());
    } catch (...) {
        LogFailure(command, "unknown error");
    }
}

Task<void> WebBridge::LaunchAsync(std::shared_ptr<IGameBarWidget> widget, std::string uri) {
    // Whether a handler took the URI changes nothing for the page.
    co_await widget->LaunchUriAsync(std::move(uri));
}

Task<void> WebBridge::ResizeAsync(std::shared_ptr<IGameBarWidget> widget, WindowSize size) {
    co_await widget->TryResizeWindowAsync(size.width, size.height);
}

Task<void> WebBridge::SetExpandedAsync(std::weak_ptr<WebBridge> weak, std::shared_ptr<IGameBarWidget> widget,
                                       std::shared_ptr<CoreDispatcher> dispatcher, bool expanded) {
    const WindowSize size = expanded ? kExpandedSize : web_page::kCollapsedSize;
    if (!co_await widget->TryResizeWindowAsync(size.width, size.height)) {
        Logger::Instance().LogError("CorvanaWidgetWebview: setExpanded resize failed");
        co_return;
    }
    co_await platform::ResumeForeground(dispatcher);
    auto self = weak.lock();
    if (!self) co_return;
    ApplyWindowSetting(*widget, expanded);
    self->seams_.savePersistedExpandedState(expanded);
    self->Post(EncodeExpandedState(expanded));
}

Task<void> WebBridge::RequestHomeAsync(std::weak_ptr<WebBridge> weak,
                                       std::shared_ptr<CoreDispatcher> dispatcher,
                                       std::shared_ptr<IAccessTokenProvider> accessTokens,
                                       FetchHomeFeed fetch) {
    auto token = co_await accessTokens->GetAccessTokenAsync();
    if (!token || token->empty()) {
        Logger::Instance().LogError("CorvanaWidgetWebview: requestHome - no auth token available");
        co_return;
    }
    if (weak.expired()) co_return;
    auto sections = co_await FetchHomeSectionsRetryingOnce(accessTokens, std::move(*token), std::move(fetch));
    co_await platform::ResumeForeground(dispatcher);
    auto self = weak.lock();
    if (!self || sections.empty()) co_return;
    self->Post(EncodeHomeContent(sections));
}

}  // namespace velmora
