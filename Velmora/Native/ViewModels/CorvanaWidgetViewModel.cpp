#include "Velmora/Native/ViewModels/CorvanaWidgetViewModel.h"

#include <atomic>
#include <cmath>
#include <functional>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Storage/ApplicationData.h"
#include "Platform/Threading/DispatcherTimer.h"
#include "Velmora/Native/Framework/FailureReport.h"
#include "Velmora/Native/Framework/ResourceHelper.h"
#include "Velmora/Native/ViewModels/CorvanaItemViewModel.h"
#include "Velmora/Native/ViewModels/CorvanaViewCategoryViewModel.h"
#include "Velmora/Native/ViewModels/PlaybackPresentation.h"
#include "Velmora/Native/ViewModels/ValueThrottle.h"
#include "VelmoraUtils/Logger.h"

namespace velmora {

using desktop_api_types::ConnectClusterResponse;
using desktop_api_types::PlaybackStateResponse;
using framework::ReportFailure;
using framework::ResourceHelper;
using utils::PlaybackAction;

namespace {

// Created once per process, on first use, and shared by every view model.
const std::shared_ptr<const QColor>& ActiveBrush() {
    static const auto brush = std::make_shared<const QColor>(0x1D, 0xB9, 0x54, 0xFF);
    return brush;
}
const std::shared_ptr<const QColor>& InactiveBrush() {
    static const auto brush = std::make_shared<const QColor>(0xFF, 0xFF, 0xFF, 0xD8);
    return brush;
}
const std::shared_ptr<const QColor>& Brush(bool active) {
    return active ? ActiveBrush() : InactiveBrush();
}

QString Icon(char16_t codePoint) {
    return QString(QChar(codePoint));
}

// How often a dragged progress bar or volume slider tells the desktop app at most.
constexpr std::chrono::milliseconds kDragCommandInterval{250};

// Repeat under the context rule: with no context (and no player of its own) nothing can be changed.
presentation::RepeatState RepeatUnder(const presentation::RepeatState& player, bool allowed) {
    return {player.mode, allowed && player.canToggleContext, allowed && player.canToggleTrack};
}

// A seek or volume command throttled on a one-shot timer of its own.
struct Throttled {
    std::unique_ptr<platform::DispatcherTimer> timer;
    std::optional<ValueThrottle> throttle;
};

// The throttle in `slot`, made on first use. Its timer ticks on `dispatcher` and does nothing once the
// view model `owner` is gone.
ValueThrottle& ThrottleOf(std::unique_ptr<Throttled>& slot,
                          const std::shared_ptr<platform::CoreDispatcher>& dispatcher,
                          std::weak_ptr<CorvanaWidgetViewModel> owner, std::function<void(double)> send) {
    if (!slot) {
        slot = std::make_unique<Throttled>();
        slot->timer = std::make_unique<platform::DispatcherTimer>(dispatcher);
        platform::DispatcherTimer* timer = slot->timer.get();
        Throttled* throttled = slot.get();
        // One shot: the periodic timer stops at its first tick.
        timer->Tick([owner = std::move(owner), throttled] {
            if (auto self = owner.lock()) {
                throttled->timer->Stop();
                throttled->throttle->Wake();
            }
        });
        slot->throttle.emplace(
            kDragCommandInterval, std::move(send), [] { return std::chrono::steady_clock::now(); },
            [timer](std::optional<std::chrono::milliseconds> delay) {
                timer->Stop();
                if (!delay) return;
                timer->Interval(std::max(*delay, std::chrono::milliseconds(1)));
                timer->Start();
            });
    }
    return *slot->throttle;
}

// The first item of the first feed row that has any: what Play starts when nothing is loaded.
std::shared_ptr<CorvanaItemViewModel> FirstFeedItem(const std::shared_ptr<ObservableVector>& categories) {
    if (!categories) return nullptr;
    for (const auto& entry : categories->Items()) {
        auto category = std::dynamic_pointer_cast<CorvanaViewCategoryViewModel>(entry);
        if (category && category->Items() && !category->Items()->Empty())
            return category->Items()->At<CorvanaItemViewModel>(0);
    }
    return nullptr;
}

}  // namespace

struct CorvanaWidgetViewModel::State {
    State(std::shared_ptr<utils::DesktopAPIController> controller,
          std::shared_ptr<IAccessTokenProvider> tokens, Services services)
        : controller(std::move(controller)), tokens(std::move(tokens)), services(std::move(services)) {}

    const std::shared_ptr<utils::DesktopAPIController> controller;
    const std::shared_ptr<IAccessTokenProvider> tokens;
    const Services services;
    utils::EventToken playbackStateToken;
    utils::EventToken devicesToken;

    std::shared_ptr<platform::IGameBarWidget> widget;
    platform::IGameBarWidget::EventToken displayModeToken = 0;
    platform::IGameBarWidget::EventToken opacityToken = 0;
    std::unique_ptr<platform::DispatcherTimer> progressTimer;
    std::unique_ptr<platform::DispatcherTimer> startupTimer;  // while StartCorvana's spinner waits

    std::string currentTrackUri;
    double positionMs = 0;
    double durationMs = 0;
    bool playbackStateReceived = false;
    bool hasContext = false;
    // The last state's actions under the context rule, and under the restrictions alone.
    velmora::CorvanaActionsInfo contextActions;
    velmora::CorvanaActionsInfo playerActions;
    // The last device list's active device is another one than this machine.
    bool playingElsewhere = false;
    std::optional<PlaybackDeviceInfo> activeDevice;  // of the last device list
    presentation::RepeatState playerRepeat;
    double stateVolume = 0;
    // The seek and volume commands, each throttled on a one-shot timer of its own.
    std::unique_ptr<Throttled> seek;
    std::unique_ptr<Throttled> volume;
    // Also read where a feed load fails, which may be off the UI thread.
    std::atomic<bool> closing = false;
    // Bumped by every sign-in, sign-out and MarkClosing, so that a feed load started before one of them
    // does not apply its result after it.
    uint64_t signInGeneration = 0;

    const std::shared_ptr<ObservableVector> playbackDevices = ObservableVector::Create();
};

CorvanaWidgetViewModel::Services CorvanaWidgetViewModel::Services::Default() {
    Services services;
    services.fetchHomeFeed = DefaultFetchHomeFeed();
    services.settings = &platform::ApplicationData::Current().LocalSettings();
    return services;
}

std::shared_ptr<CorvanaWidgetViewModel> CorvanaWidgetViewModel::Create(
    std::shared_ptr<utils::DesktopAPIController> controller, std::shared_ptr<IAccessTokenProvider> tokens,
    Services services) {
    auto viewModel =
        Adopt(new CorvanaWidgetViewModel(std::move(controller), std::move(tokens), std::move(services)));
    viewModel->Subscribe();
    return viewModel;
}

CorvanaWidgetViewModel::CorvanaWidgetViewModel(std::shared_ptr<utils::DesktopAPIController> controller,
                                               std::shared_ptr<IAccessTokenProvider> tokens,
                                               Services services)
    : state_(std::make_unique<State>(std::move(controller), std::move(tokens), std::move(services))) {}

void CorvanaWidgetViewModel::Subscribe() {
    if (!state_->controller) return;
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    state_->playbackStateToken =
        state_->controller->PlaybackStateChanged.Add([weak](const PlaybackStateResponse& state) {
            if (auto self = weak.lock()) self->OnPlaybackStateChanged(state);
        });
    state_->devicesToken =
        state_->controller->DevicesChanged.Add([weak](const ConnectClusterResponse& cluster) {
            if (auto self = weak.lock()) self->OnDevicesStateChanged(cluster);
        });
}

CorvanaWidgetViewModel::~CorvanaWidgetViewModel() {
    if (state_->controller) {
        state_->controller->PlaybackStateChanged.Remove(state_->playbackStateToken);
        state_->controller->DevicesChanged.Remove(state_->devicesToken);
    }
    if (state_->widget) {
        state_->widget->GameBarDisplayModeChanged(state_->displayModeToken);
        state_->widget->RequestedOpacityChanged(state_->opacityToken);
    }
}

const std::shared_ptr<ObservableVector>& CorvanaWidgetViewModel::PlaybackDevices() const {
    return state_->playbackDevices;
}

ObservableVector* CorvanaWidgetViewModel::PlaybackDevicesModel() const {
    return state_->playbackDevices.get();
}

bool CorvanaWidgetViewModel::HasProgressTimer() const {
    return state_->progressTimer != nullptr;
}

// ---- Playback state ----

void CorvanaWidgetViewModel::OnPlaybackStateChanged(const PlaybackStateResponse& state) {
    ConvertedPlaybackState converted;
    try {
        converted = ConvertedPlaybackState::From(state, ConvertedPlaybackState::NowMs());
    } catch (...) {
        // The state is dropped; the view keeps showing the last good one.
        ReportFailure("CorvanaWidgetViewModel::OnPlaybackState", std::current_exception());
        return;
    }
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    Dispatcher()->RunAsync([weak, converted = std::move(converted)] {
        if (auto self = weak.lock()) self->ApplyPlaybackState(converted);
    });
}

void CorvanaWidgetViewModel::ApplyPlaybackState(const ConvertedPlaybackState& state) {
    try {
        state_->hasContext = state.HasContext;
        UpdateShowPinnedCorvanaLogo();
        state_->contextActions = state.Actions;
        state_->playerActions = state.PlayerActions;
        UpdateActions();
        state_->playbackStateReceived = true;
        state_->playerRepeat = state.PlayerRepeat;
        state_->stateVolume = state.Volume;
        UpdateRepeatPresentation();
        UpdateVolume();
        UpdateCurrentlyPlayingTrackInformation(state.Track, state.IsAdvertisement);
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::OnPlaybackState", std::current_exception());
    }
}

void CorvanaWidgetViewModel::UpdateCurrentlyPlayingTrackInformation(const CorvanaCurrentTrackInfo& info,
                                                                    bool isAdvertisement) {
    bool playing = false;
    if (info.HasTrack) {
        state_->currentTrackUri = info.Uri;
        SetIsInLibrary(info.IsInLibrary);
        // A player without an account has no library to add to, whatever it says.
        SetShowAddRemoveLibraryButton(info.CanAddToLibrary && !IsPlayerOnly_);
        UpdateLibraryPresentation();
        SetCurrentlyPlayingTrack(QString::fromStdString(info.Name));
        SetCurrentlyPlayingTrackAlbum(QString::fromStdString(info.Album));
        bool episode = info.Kind == CorvanaViewItemKind::Episode;
        SetCurrentlyPlayingTrackArtist(QString::fromStdString(episode ? info.Album : info.Artist));
        SetIsShuffleEnabled(info.IsShuffling);
        if (isAdvertisement) SetCurrentlyPlayingTrack(ResourceHelper::GetString("CorvanaAdvertisementText"));
        ApplyContentControls(isAdvertisement ? presentation::Content::Advertisement
                             : episode       ? presentation::Content::Episode
                                             : presentation::Content::Track);
        state_->positionMs = info.PositionMs;
        state_->durationMs = info.DurationMs;
        if (state_->durationMs > 0)
            SetCurrentlyPlayingTrackProgressPercentage(state_->positionMs / state_->durationMs);
        UpdateCover(info.ImageUrl);
        playing = info.IsPlaying;
    } else {
        SetCurrentlyPlayingTrack({});
        SetCurrentlyPlayingTrackAlbum({});
        SetCurrentlyPlayingTrackArtist({});
        SetIsShuffleEnabled(false);
        ApplyContentControls(presentation::Content::Nothing);
        SetShowAddRemoveLibraryButton(false);
        state_->positionMs = 0;
        state_->durationMs = 0;
        state_->currentTrackUri.clear();
        SetIsInLibrary(false);
        SetCurrentlyPlayingTrackProgressPercentage(0);
        UpdateCover({});
    }
    UpdateTimes();
    SetIsPlaying(playing);
    UpdateProgressTimer();
    UpdatePlayPausePresentation();
    UpdateShufflePresentation();
}

void CorvanaWidgetViewModel::UpdateCover(const std::string& imageUrl) {
    // Only the file of the state shown now may be loaded, and none once it moved on.
    if (state_->services.localCovers) state_->services.localCovers->Follow(imageUrl);
    if (imageUrl.empty()) {
        SetImageSource(nullptr);
        return;
    }
    if (ImageSource_ && ImageSource_->SourceText() == imageUrl) return;
    try {
        SetImageSource(CoverImage::Create(imageUrl, CurrentlyPlayingTrackImageDecodeHeight_));
    } catch (...) {
        // Only the cover step ends: the old track's cover must not stay beside the new title.
        SetImageSource(nullptr);
        ReportFailure("CorvanaWidgetViewModel::UpdateCurrentlyPlayingTrackInformation",
                      std::current_exception());
    }
}

void CorvanaWidgetViewModel::UpdateProgressTimer() {
    if (IsPlaying_ && state_->durationMs > 0) {
        if (!state_->progressTimer) {
            state_->progressTimer = std::make_unique<platform::DispatcherTimer>(Dispatcher());
            state_->progressTimer->Interval(state_->services.progressInterval);
        }
        if (!state_->progressTimer->IsEnabled()) {
            std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
            state_->progressTimer->Tick([weak] {
                if (auto self = weak.lock()) self->OnProgressTimerTick();
            });
            state_->progressTimer->Start();
        }
    } else if (state_->progressTimer) {
        state_->progressTimer->Tick(nullptr);
        state_->progressTimer->Stop();
        state_->progressTimer.reset();
    }
}

void CorvanaWidgetViewModel::OnProgressTimerTick() {
    if (state_->durationMs <= 0) {
        state_->positionMs = 0;
        SetCurrentlyPlayingTrackProgressPercentage(0);
        return;
    }
    state_->positionMs += 1000;
    SetCurrentlyPlayingTrackProgressPercentage(state_->positionMs / state_->durationMs);
    UpdateTimes();
}

void CorvanaWidgetViewModel::UpdateTimes() {
    // Nothing to measure: no times rather than a misleading 0:00.
    const bool timed = state_->durationMs > 0;
    SetElapsedTimeText(timed ? presentation::FormatTime(std::min(state_->positionMs, state_->durationMs))
                             : QString());
    SetDurationText(timed ? presentation::FormatTime(state_->durationMs) : QString());
}

void CorvanaWidgetViewModel::SetCurrentlyPlayingTrackProgressPercentage(double value) {
    value = std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
    StoreCurrentlyPlayingTrackProgressPercentage(value);
}

// ---- Presentation rules ----

void CorvanaWidgetViewModel::UpdatePlayPausePresentation() {
    const presentation::Look look =
        presentation::PlayPause({IsPlaying_, state_->playbackStateReceived, state_->hasContext, IsPlayerOnly_,
                                 FirstFeedItem(Categories_) != nullptr, CorvanaActionsInfo_});
    SetPlayPauseIcon(look.icon);
    SetPlayPauseNarratorText(ResourceHelper::GetString(look.narratorKey));
    SetIsPlayPauseButtonEnabled(look.enabled);
}

void CorvanaWidgetViewModel::UpdateLibraryPresentation() {
    const presentation::Look look = presentation::Library(IsInLibrary_);
    SetAddRemoveLibraryIcon(look.icon);
    SetAddRemoveLibraryNarratorText(ResourceHelper::GetString(look.narratorKey));
    SetAddRemoveLibraryButtonBrush(Brush(look.active));
}

void CorvanaWidgetViewModel::UpdateShufflePresentation() {
    const presentation::Look look = presentation::Shuffle(IsShuffleEnabled_);
    SetEnableDisableButtonForegroundBrush(Brush(look.active));
    SetEnableDisableNarratorText(ResourceHelper::GetString(look.narratorKey));
}

void CorvanaWidgetViewModel::ApplyContentControls(presentation::Content content) {
    const presentation::ContentControls shown = presentation::ControlsFor(content);
    if (shown.showPreviousNext) SetShowPreviousNextControls(*shown.showPreviousNext);
    if (shown.showSkipBackAhead) SetShowSkipBackAheadControls(*shown.showSkipBackAhead);
    SetShowShuffleButton(shown.showShuffle);
}

void CorvanaWidgetViewModel::UpdateActions() {
    SetCorvanaActionsInfo(IsPlayerOnly_ ? state_->playerActions : state_->contextActions);
    UpdateRepeatPresentation();
}

void CorvanaWidgetViewModel::UpdateRepeatPresentation() {
    const presentation::Look look = presentation::RepeatLook(RepeatUnder(
        state_->playerRepeat, state_->playbackStateReceived && (state_->hasContext || IsPlayerOnly_)));
    SetRepeatIcon(look.icon);
    SetRepeatNarratorText(ResourceHelper::GetString(look.narratorKey));
    SetIsRepeatButtonEnabled(look.enabled);
    SetRepeatButtonBrush(Brush(look.active));
}

void CorvanaWidgetViewModel::UpdateVolume() {
    const bool shown = state_->activeDevice && state_->activeDevice->SupportsVolume;
    SetShowVolume(shown);
    // The playback state says the volume as it is now; the device list may be older.
    if (shown)
        SetVolume(state_->playbackStateReceived ? state_->stateVolume : state_->activeDevice->Volume / 100.0);
}

void CorvanaWidgetViewModel::UpdateDeviceButtonBrush() {
    SetPlaybackDeviceSelectionButtonBrush(
        Brush(presentation::DeviceButtonActive(state_->playingElsewhere, IsPlayerOnly_)));
}

void CorvanaWidgetViewModel::UpdateShowPinnedCorvanaLogo() {
    SetShowPinnedCorvanaLogo(IsPinnedOnly_ && state_->hasContext);
}

void CorvanaWidgetViewModel::SetStartupFlag(bool on) {
    if (on) StoreInErrorState(false);
    SetShowSpinner(on);
}

void CorvanaWidgetViewModel::SetInErrorState(bool value) {
    if (value) SetStartupFlag(false);
    StoreInErrorState(value);
}

void CorvanaWidgetViewModel::SetIsPinnedOnly(bool value) {
    if (!StoreIsPinnedOnly(value)) return;
    UpdateShowPinnedCorvanaLogo();
    // Showing what plays, the window shrinks to the now-playing block while pinned and takes the size of
    // the expanded state (or the collapsed one, without the feed) back after; signed out, it keeps its size.
    if (IsSignedIn_ && state_->widget) {
        auto applying = ApplyExpandedState();
    } else if (ShowNowPlaying_ && state_->widget) {
        auto applying = ApplyPlaybackOnlySize();
    }
}

void CorvanaWidgetViewModel::SetIsExpanded(bool value) {
    if (StoreIsExpanded(value)) {
        auto applying = ApplyExpandedState();
    }
}

// ---- Widget host ----

void CorvanaWidgetViewModel::RegisterForWidgetEvents(std::shared_ptr<platform::IGameBarWidget> widget) {
    RegisterForWidgetEventsAsync(std::move(widget));
}

platform::FireAndForget CorvanaWidgetViewModel::RegisterForWidgetEventsAsync(
    std::shared_ptr<platform::IGameBarWidget> widget) {
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    try {
        if (state_->widget) {
            utils::Logger::Instance().LogInfo("RegisterForWidgetEvents: _widget already set");
            co_return;
        }
        if (!widget) throw platform::PlatformError(platform::E_POINTER, "no widget to register with");
        state_->widget = widget;
        SetIsPinnedOnly(widget->DisplayMode() == platform::GameBarDisplayMode::PinnedOnly);
        state_->displayModeToken = widget->GameBarDisplayModeChanged([weak] {
            if (auto self = weak.lock()) self->OnDisplayModeChanged();
        });
        SetOpacity(widget->RequestedOpacity());
        state_->opacityToken = widget->RequestedOpacityChanged([weak] {
            auto self = weak.lock();
            if (self && self->state_->widget) self->SetOpacity(self->state_->widget->RequestedOpacity());
        });
        if (ShowNowPlaying_ && !IsSignedIn_) {
            co_await ApplyPlaybackOnlySize();
        } else {
            co_await widget->TryResizeWindowAsync(kLoggedOutSize.width, kLoggedOutSize.height);
        }
        auto self = weak.lock();
        if (!self) co_return;
        SetStartupFlag(false);
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::RegisterForWidgetEvents", std::current_exception());
    }
}

void CorvanaWidgetViewModel::OnDisplayModeChanged() {
    if (state_->widget)
        SetIsPinnedOnly(state_->widget->DisplayMode() == platform::GameBarDisplayMode::PinnedOnly);
}

platform::Task<void> CorvanaWidgetViewModel::ResizeWindowAsync(WindowSize size) {
    try {
        if (auto widget = state_->widget) co_await widget->TryResizeWindowAsync(size.width, size.height);
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::ResizeWindow", std::current_exception());
    }
}

platform::Task<void> CorvanaWidgetViewModel::LaunchUriAsync(std::string uri) {
    try {
        auto widget = state_->widget;
        if (!widget)
            throw platform::PlatformError(platform::E_POINTER, "no widget to launch " + uri + " through");
        co_await widget->LaunchUriAsync(std::move(uri));
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::LaunchUri", std::current_exception());
    }
}

// ---- Sign-in and the feed ----

void CorvanaWidgetViewModel::SetSignInState(utils::TokenManager::SignInState state) {
    using SignIn = utils::TokenManager::SignInState;
    switch (state) {
        case SignIn::SignedIn:
            SetSignedIn(true);
            break;
        case SignIn::SignedOut:
            SetSignedIn(false);
            break;
        case SignIn::SigningIn:
            // Signed in already, the feed stays until the verdict says otherwise.
            if (!IsSignedIn_) ShowPlaybackWithoutFeed(false);
            break;
        case SignIn::PlayerOnly:
            ShowPlaybackWithoutFeed(true);
            break;
        case SignIn::RetryingSignIn:
            // The sign-in failed, so a feed shown so far goes; what plays stays until a try works.
            ShowPlaybackWithoutFeed(false);
            break;
    }
}

void CorvanaWidgetViewModel::ShowPlaybackWithoutFeed(bool playerOnly) {
    if (state_->closing) return;
    // A feed on its way belongs to a sign-in that is over.
    ++state_->signInGeneration;
    EndStartupWait();
    const bool wasShowing = ShowNowPlaying_ && !IsSignedIn_ && IsPlayerOnly_ == playerOnly;
    if (playerOnly) {
        // The feed, the library and the context were a Corvana user's: none of them is the player's.
        SetCategories(nullptr);
        SetShowAddRemoveLibraryButton(false);
    }
    SetIsPlayerOnly(playerOnly);
    UpdateActions();
    UpdateDeviceButtonBrush();
    UpdatePlayPausePresentation();
    SetShowExpandButton(false);
    SetIsSignedIn(false);
    SetShowNowPlaying(true);
    if (wasShowing) return;
    if (state_->widget) {
        auto resizing = ApplyPlaybackOnlySize();
    }
    if (state_->controller) {
        state_->controller->RequestPlaybackState();
        state_->controller->RequestDevices();
    }
}

void CorvanaWidgetViewModel::SetSignedIn(bool signedIn) {
    ++state_->signInGeneration;
    if (signedIn) {
        if (state_->closing) return;
        // What Start listening waited for has come: a sign-out from here on shows the buttons, and no
        // wait running out later says the desktop app did not answer.
        EndStartupWait();
        const bool wasPlayerOnly = IsPlayerOnly_;
        SetIsPlayerOnly(false);
        if (wasPlayerOnly) {
            UpdateActions();
            UpdateDeviceButtonBrush();
        }
        SetShowExpandButton(true);
        SetShowNowPlaying(true);
        SetIsSignedIn(true);
        auto loading = FetchHome(state_->signInGeneration);
        if (state_->controller) {
            state_->controller->RequestPlaybackState();
            state_->controller->RequestDevices();
        }
        return;
    }
    state_->contextActions = {};
    state_->playerActions = {};
    state_->playerRepeat = {};
    SetCorvanaActionsInfo({});
    state_->playbackStateReceived = false;
    UpdateRepeatPresentation();
    if (state_->widget) {
        auto resizing = ResizeWindowAsync(kLoggedOutSize);
    }
    SetIsPlayerOnly(false);
    SetShowNowPlaying(false);
    SetIsSignedIn(false);
}

void CorvanaWidgetViewModel::MarkClosing() {
    state_->closing = true;
    ++state_->signInGeneration;
}

std::shared_ptr<ObservableVector> CorvanaWidgetViewModel::BuildCategories(
    const std::vector<utils::corvana_client::HomeSection>& sections,
    const std::shared_ptr<utils::DesktopAPIController>& controller) {
    auto categories = ObservableVector::Create();
    for (const auto& section : sections) {
        CorvanaViewCategory category{ShownText(section.name), {}};
        category.Items.reserve(section.items.size());
        for (const auto& item : section.items) category.Items.push_back(MakeViewItem(item));
        categories->Append(CorvanaViewCategoryViewModel::Create(category, controller));
    }
    return categories;
}

platform::Task<void> CorvanaWidgetViewModel::FetchHome(uint64_t signInGeneration) {
    // The feed may take as long as an HTTP time-out: the page that goes away meanwhile releases the view
    // model at once, and the load ends quietly when it finds it gone.
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    const std::shared_ptr<IAccessTokenProvider> tokens = state_->tokens;
    const FetchHomeFeed fetch = state_->services.fetchHomeFeed;
    try {
        utils::Logger::Instance().LogInfo("CorvanaWidgetViewModel::FetchHome - fetching partner home feed");
        // A vault round trip: awaited off the UI thread, which it comes back to.
        std::optional<std::string> token;
        if (tokens) token = co_await tokens->GetAccessTokenAsync();
        if (weak.expired()) co_return;
        if (!token || token->empty()) {
            utils::Logger::Instance().LogError("CorvanaWidgetViewModel::FetchHome - no auth token available");
            co_return;
        }
        auto sections = co_await FetchHomeSectionsRetryingOnce(tokens, std::move(*token), fetch);
        std::optional<platform::Task<void>> applying;
        {
            auto self = weak.lock();
            if (!self || signInGeneration != state_->signInGeneration) {
                utils::Logger::Instance().LogInfo(
                    "CorvanaWidgetViewModel::FetchHome - signed out or closing meanwhile; feed not shown");
                co_return;
            }
            SetCategories(BuildCategories(sections, state_->controller));
            UpdatePlayPausePresentation();
            if (state_->services.settings) {
                auto stored = state_->services.settings->Lookup(kExpandedSetting);
                if (stored && stored->Kind() == platform::ValueKind::Boolean)
                    StoreIsExpanded(stored->AsBoolean());
            }
            applying.emplace(ApplyExpandedState());
        }
        co_await std::move(*applying);
    } catch (...) {
        // The page went away while the feed was on its way (its UI thread may already refuse work):
        // nothing failed, there is just nobody left to show the feed to.
        auto self = weak.lock();
        if (self && !state_->closing)
            ReportFailure("CorvanaWidgetViewModel::FetchHome", std::current_exception());
    }
}

platform::Task<void> CorvanaWidgetViewModel::ApplyExpandedState() {
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    try {
        bool expanded = IsExpanded_;
        SetExpandButtonGlyph(Icon(expanded ? kCollapseGlyph : kExpandGlyph));
        SetExpandCollapseNarratorText(ResourceHelper::GetString(
            expanded ? "CollapseWidget_ButtonNarratorText" : "ExpandWidget_ButtonNarratorText"));
        SetIsScrollBarEnabled(expanded);
        if (auto widget = state_->widget) {
            const bool pinnedOnly = IsPinnedOnly_;
            WindowSize size = pinnedOnly ? native_page::kPinnedOnlySize
                              : expanded ? kExpandedSize
                                         : native_page::kCollapsedSize;
            co_await widget->TryResizeWindowAsync(size.width, size.height);
            if (weak.expired()) co_return;
            widget->HorizontalResizeSupported(expanded && !pinnedOnly);
            widget->VerticalResizeSupported(expanded && !pinnedOnly);
        }
        // Once more: the branch above may have suspended.
        auto self = weak.lock();
        if (self && state_->services.settings)
            state_->services.settings->Insert(kExpandedSetting, platform::Value(IsExpanded_));
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::ApplyExpandedState", std::current_exception());
    }
}

platform::Task<void> CorvanaWidgetViewModel::ApplyPlaybackOnlySize() {
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    try {
        if (auto widget = state_->widget) {
            const WindowSize size =
                IsPinnedOnly_ ? native_page::kPinnedOnlySize : native_page::kCollapsedSize;
            co_await widget->TryResizeWindowAsync(size.width, size.height);
            if (weak.expired()) co_return;
            widget->HorizontalResizeSupported(false);
            widget->VerticalResizeSupported(false);
        }
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::ApplyPlaybackOnlySize", std::current_exception());
    }
}

// ---- Devices ----

void CorvanaWidgetViewModel::OnDevicesStateChanged(const ConnectClusterResponse& cluster) {
    std::vector<PlaybackDeviceInfo> devices;
    devices.reserve(cluster.devices.size());
    std::optional<PlaybackDeviceInfo> active;
    for (const auto& device : cluster.devices) {
        devices.push_back(PlaybackDeviceInfo::From(device));
        if (!active && devices.back().IsValid && devices.back().IsActive) active = devices.back();
    }
    if (active)
        utils::Logger::Instance().LogInfo("OnDevicesStateChanged: active device found in playbackDevices");
    // No lock across the switch: the dispatcher runs the lists in the order they were queued.
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    Dispatcher()->RunAsync([weak, devices = std::move(devices), active = std::move(active)] {
        if (auto self = weak.lock()) self->ApplyDevices(devices, active);
    });
}

void CorvanaWidgetViewModel::ApplyDevices(const std::vector<PlaybackDeviceInfo>& devices,
                                          const std::optional<PlaybackDeviceInfo>& active) {
    try {
        state_->playbackDevices->Clear();
        std::shared_ptr<CorvanaPlaybackDeviceViewModel> selected;
        for (const auto& device : devices) {
            if (!device.IsValid) continue;
            auto viewModel = CorvanaPlaybackDeviceViewModel::Create(device);
            state_->playbackDevices->Append(viewModel);
            if (!selected && active && device.Id == active->Id) selected = viewModel;
        }
        state_->playingElsewhere = selected && !active->IsSelf;
        state_->activeDevice = selected ? active : std::nullopt;
        UpdateDeviceButtonBrush();
        UpdateVolume();
        SetSelectedPlaybackDevice(selected);
        SetEnablePlaybackDeviceSelectionButton(!state_->playbackDevices->Empty());
        utils::Logger::Instance().LogInfo("OnDevicesStateChanged: returning");
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::OnDevicesStateChanged", std::current_exception());
    }
}

void CorvanaWidgetViewModel::OnPlaybackDeviceClicked(QObject* item) {
    auto self = SharedFrom(this);
    try {
        auto* device = qobject_cast<CorvanaPlaybackDeviceViewModel*>(item);
        if (device && state_->controller) {
            state_->controller->TransferPlayback(device->Device().Id);
            SetSelectedPlaybackDevice(SharedFrom(device));
        }
        SetIsPlaybackDevicesFlyoutOpen(false);
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::OnPlaybackDeviceClicked", std::current_exception());
    }
}

// ---- Commands ----

void CorvanaWidgetViewModel::OpenCorvanaMinimizedFromWidget() {
    auto launching = LaunchUriAsync("corvana:open:minimized?utm_medium=desktop-xbox-game-bar");
}

void CorvanaWidgetViewModel::OpenCorvana() {
    auto launching = LaunchUriAsync("corvana:open");
}

void CorvanaWidgetViewModel::StartCorvana() {
    SetStartupFlag(true);
    // Only this wait ends the spinner when the desktop app never comes or nobody signs in to it; the
    // signed-out view shows no buttons under the spinner, so the player would be stuck.
    state_->startupTimer = std::make_unique<platform::DispatcherTimer>(Dispatcher());
    state_->startupTimer->Interval(state_->services.startupWait);
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    state_->startupTimer->Tick([weak] {
        if (auto self = weak.lock()) self->OnStartupWaitOver();
    });
    state_->startupTimer->Start();
    if (state_->controller) state_->controller->Reconnect();
    auto launching = LaunchUriAsync("corvana:open:minimized");
}

void CorvanaWidgetViewModel::EndStartupWait() {
    if (!state_->startupTimer) return;
    state_->startupTimer->Stop();
    state_->startupTimer.reset();
    SetStartupFlag(false);
}

void CorvanaWidgetViewModel::OnStartupWaitOver() {
    state_->startupTimer.reset();
    if (!ShowSpinner_) return;
    if (IsSignedIn_) {
        SetStartupFlag(false);
    } else {
        SetInErrorState(true);
    }
}

void CorvanaWidgetViewModel::SendPlaybackCommand(PlaybackAction action) {
    auto self = SharedFrom(this);
    if (state_->controller) state_->controller->ModifyPlaybackState(action);
}

void CorvanaWidgetViewModel::PlayPause() {
    if (IsPlaying_) {
        SendPlaybackCommand(PlaybackAction::Pause);
    } else if (!state_->hasContext) {
        // Nothing loaded in the desktop app: start the feed's first item rather than resume nothing.
        if (auto item = FirstFeedItem(Categories_)) {
            item->PlayAsync();
        } else {
            SendPlaybackCommand(PlaybackAction::Resume);
        }
    } else {
        SendPlaybackCommand(PlaybackAction::Resume);
    }
}

void CorvanaWidgetViewModel::Next() {
    SendPlaybackCommand(PlaybackAction::Next);
}

void CorvanaWidgetViewModel::Previous() {
    SendPlaybackCommand(PlaybackAction::Previous);
}

void CorvanaWidgetViewModel::SkipBack() {
    if (state_->controller) state_->controller->Seek(-kSkipMs, true);
}

void CorvanaWidgetViewModel::SkipAhead() {
    if (state_->controller) state_->controller->Seek(kSkipMs, true);
}

void CorvanaWidgetViewModel::AddRemoveLibrary() {
    if (!state_->controller || state_->currentTrackUri.empty()) return;
    if (IsInLibrary_) {
        state_->controller->UnlikeTrack(state_->currentTrackUri);
    } else {
        state_->controller->LikeTrack(state_->currentTrackUri);
    }
}

void CorvanaWidgetViewModel::ToggleShuffle() {
    if (state_->controller) state_->controller->SetShuffle(!IsShuffleEnabled_);
}

void CorvanaWidgetViewModel::CycleRepeat() {
    const auto next = presentation::NextRepeat(RepeatUnder(
        state_->playerRepeat, state_->playbackStateReceived && (state_->hasContext || IsPlayerOnly_)));
    if (next && state_->controller) state_->controller->SetRepeat(presentation::RepeatText(*next));
}

void CorvanaWidgetViewModel::SeekTo(double fraction, bool final) {
    if (!state_->controller || state_->durationMs <= 0 || !CorvanaActionsInfo_.CanSeek ||
        !std::isfinite(fraction))
        return;
    // The bar and the elapsed time follow the player's hand; the next playback state has the last word.
    state_->positionMs = std::round(std::clamp(fraction, 0.0, 1.0) * state_->durationMs);
    SetCurrentlyPlayingTrackProgressPercentage(state_->positionMs / state_->durationMs);
    UpdateTimes();
    auto& throttle = ThrottleOf(state_->seek, Dispatcher(), WeakFrom(this), [this](double ms) {
        state_->controller->Seek(static_cast<int32_t>(ms), false);
    });
    final ? throttle.Finish(state_->positionMs) : throttle.Update(state_->positionMs);
}

void CorvanaWidgetViewModel::ChangeVolume(double fraction, bool final) {
    if (!state_->controller || !ShowVolume_ || !std::isfinite(fraction)) return;
    // In whole percent, as the desktop app keeps it.
    const double volume = std::round(std::clamp(fraction, 0.0, 1.0) * 100) / 100;
    SetVolume(volume);
    auto& throttle = ThrottleOf(state_->volume, Dispatcher(), WeakFrom(this),
                                [this](double value) { state_->controller->SetVolume(value); });
    final ? throttle.Finish(volume) : throttle.Update(volume);
}

}  // namespace velmora
