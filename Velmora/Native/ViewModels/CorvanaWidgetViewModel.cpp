#include "Velmora/Native/ViewModels/CorvanaWidgetViewModel.h"

#include <atomic>
#include <cmath>
#include <functional>
#include <optional>
#include <string>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Foundation/Task.h"
#include "Platform/Storage/ApplicationData.h"
#include "Platform/Threading/DispatcherTimer.h"
#include "Velmora/Common/WidgetRequests.h"
#include "Velmora/Common/WidgetWindow.h"
#include "Velmora/Native/Framework/FailureReport.h"
#include "Velmora/Native/Framework/ResourceHelper.h"
#include "Velmora/Native/ViewModels/ConvertedPlaybackState.h"
#include "Velmora/Native/ViewModels/CorvanaCurrentTrackInfo.h"
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

// Everything of the view model but what the page shows: the controller, the widget, the timers, the last
// playback state and device list, the sign-in generation, and the steps that turn them into properties. It
// belongs to the view model and dies with it, so detached work that suspends holds the view model weakly
// and touches this only after finding it alive.
struct CorvanaWidgetViewModel::State {
    State(CorvanaWidgetViewModel& vm, std::shared_ptr<utils::DesktopAPIController> controller,
          std::shared_ptr<IAccessTokenProvider> tokens, Services services)
        : vm(vm),
          controller(std::move(controller)),
          tokens(std::move(tokens)),
          services(std::move(services)) {}

    void Subscribe();

    // Desktop events, on the thread that raised them.
    void OnPlaybackStateChanged(const PlaybackStateResponse& state);
    void OnDevicesStateChanged(const ConnectClusterResponse& cluster);

    // The UI-thread steps.
    void ApplyPlaybackState(const ConvertedPlaybackState& state);
    void UpdateCurrentlyPlayingTrackInformation(const CorvanaCurrentTrackInfo& info, bool isAdvertisement);
    void UpdateCover(const std::string& imageUrl);
    void UpdateProgressTimer();
    void OnProgressTimerTick();
    void OnStartupWaitOver();
    void EndStartupWait();
    void ApplyDevices(const std::vector<PlaybackDeviceInfo>& devices,
                      const std::optional<PlaybackDeviceInfo>& active);
    void OnDisplayModeChanged();

    // The presentation rules (PlaybackPresentation.h), applied where their state changes.
    void ApplyContentControls(presentation::Content content);
    void UpdatePlayPausePresentation();
    void UpdateLibraryPresentation();
    void UpdateShufflePresentation();
    void UpdateShowPinnedCorvanaLogo();
    void UpdateActions();
    void UpdateDeviceButtonBrush();
    void UpdateRepeatPresentation();
    void UpdateTimes();
    void UpdateVolume();
    // Shows what plays without the feed, as player only or while signing in.
    void ShowPlaybackWithoutFeed(bool playerOnly);
    void SetStartupFlag(bool on);

    // Detached work: each holds the view model weakly, ends quietly once it is gone (checked after every
    // suspension), contains its failures and reports them.
    platform::FireAndForget RegisterForWidgetEventsAsync(std::shared_ptr<platform::IGameBarWidget> host);
    platform::Task<void> FetchHome(uint64_t generation);
    platform::Task<void> ApplyExpandedState();
    // The size of playback without the feed: the collapsed block, or the pinned one.
    platform::Task<void> ApplyPlaybackOnlySize();
    platform::Task<void> ResizeWindowAsync(WindowSize size);
    platform::Task<void> LaunchUriAsync(std::string uri);
    void SendPlaybackCommand(PlaybackAction action);

    CorvanaWidgetViewModel& vm;
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
    viewModel->state_->Subscribe();
    return viewModel;
}

CorvanaWidgetViewModel::CorvanaWidgetViewModel(std::shared_ptr<utils::DesktopAPIController> controller,
                                               std::shared_ptr<IAccessTokenProvider> tokens,
                                               Services services)
    : state_(std::make_unique<State>(*this, std::move(controller), std::move(tokens), std::move(services))) {}

void CorvanaWidgetViewModel::State::Subscribe() {
    if (!controller) return;
    std::weak_ptr<CorvanaWidgetViewModel> weak = vm.WeakFrom(&vm);
    playbackStateToken = controller->PlaybackStateChanged.Add([weak](const PlaybackStateResponse& state) {
        if (auto self = weak.lock()) self->state_->OnPlaybackStateChanged(state);
    });
    devicesToken = controller->DevicesChanged.Add([weak](const ConnectClusterResponse& cluster) {
        if (auto self = weak.lock()) self->state_->OnDevicesStateChanged(cluster);
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

void CorvanaWidgetViewModel::State::OnPlaybackStateChanged(const PlaybackStateResponse& state) {
    ConvertedPlaybackState converted;
    try {
        converted = ConvertedPlaybackState::From(state, ConvertedPlaybackState::NowMs());
    } catch (...) {
        // The state is dropped; the view keeps showing the last good one.
        ReportFailure("CorvanaWidgetViewModel::OnPlaybackState", std::current_exception());
        return;
    }
    std::weak_ptr<CorvanaWidgetViewModel> weak = vm.WeakFrom(&vm);
    vm.Dispatcher()->RunAsync([weak, converted = std::move(converted)] {
        if (auto self = weak.lock()) self->state_->ApplyPlaybackState(converted);
    });
}

void CorvanaWidgetViewModel::State::ApplyPlaybackState(const ConvertedPlaybackState& state) {
    try {
        hasContext = state.HasContext;
        UpdateShowPinnedCorvanaLogo();
        contextActions = state.Actions;
        playerActions = state.PlayerActions;
        UpdateActions();
        playbackStateReceived = true;
        playerRepeat = state.PlayerRepeat;
        stateVolume = state.Volume;
        UpdateRepeatPresentation();
        UpdateVolume();
        UpdateCurrentlyPlayingTrackInformation(state.Track, state.IsAdvertisement);
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::OnPlaybackState", std::current_exception());
    }
}

void CorvanaWidgetViewModel::State::UpdateCurrentlyPlayingTrackInformation(
    const CorvanaCurrentTrackInfo& info, bool isAdvertisement) {
    bool playing = false;
    if (info.HasTrack) {
        currentTrackUri = info.Uri;
        vm.SetIsInLibrary(info.IsInLibrary);
        // A player without an account has no library to add to, whatever it says.
        vm.SetShowAddRemoveLibraryButton(info.CanAddToLibrary && !vm.IsPlayerOnly_);
        UpdateLibraryPresentation();
        vm.SetCurrentlyPlayingTrack(QString::fromStdString(info.Name));
        vm.SetCurrentlyPlayingTrackAlbum(QString::fromStdString(info.Album));
        bool episode = info.Kind == CorvanaViewItemKind::Episode;
        vm.SetCurrentlyPlayingTrackArtist(QString::fromStdString(episode ? info.Album : info.Artist));
        vm.SetIsShuffleEnabled(info.IsShuffling);
        if (isAdvertisement)
            vm.SetCurrentlyPlayingTrack(ResourceHelper::GetString("CorvanaAdvertisementText"));
        ApplyContentControls(isAdvertisement ? presentation::Content::Advertisement
                             : episode       ? presentation::Content::Episode
                                             : presentation::Content::Track);
        positionMs = info.PositionMs;
        durationMs = info.DurationMs;
        if (durationMs > 0) vm.SetCurrentlyPlayingTrackProgressPercentage(positionMs / durationMs);
        UpdateCover(info.ImageUrl);
        playing = info.IsPlaying;
    } else {
        vm.SetCurrentlyPlayingTrack({});
        vm.SetCurrentlyPlayingTrackAlbum({});
        vm.SetCurrentlyPlayingTrackArtist({});
        vm.SetIsShuffleEnabled(false);
        ApplyContentControls(presentation::Content::Nothing);
        vm.SetShowAddRemoveLibraryButton(false);
        positionMs = 0;
        durationMs = 0;
        currentTrackUri.clear();
        vm.SetIsInLibrary(false);
        vm.SetCurrentlyPlayingTrackProgressPercentage(0);
        UpdateCover({});
    }
    UpdateTimes();
    vm.SetIsPlaying(playing);
    UpdateProgressTimer();
    UpdatePlayPausePresentation();
    UpdateShufflePresentation();
}

void CorvanaWidgetViewModel::State::UpdateCover(const std::string& imageUrl) {
    // Only the file of the state shown now may be loaded, and none once it moved on.
    if (services.localCovers) services.localCovers->Follow(imageUrl);
    if (imageUrl.empty()) {
        vm.SetImageSource(nullptr);
        return;
    }
    if (vm.ImageSource_ && vm.ImageSource_->SourceText() == imageUrl) return;
    try {
        vm.SetImageSource(CoverImage::Create(imageUrl, vm.CurrentlyPlayingTrackImageDecodeHeight_));
    } catch (...) {
        // Only the cover step ends: the old track's cover must not stay beside the new title.
        vm.SetImageSource(nullptr);
        ReportFailure("CorvanaWidgetViewModel::UpdateCurrentlyPlayingTrackInformation",
                      std::current_exception());
    }
}

void CorvanaWidgetViewModel::State::UpdateProgressTimer() {
    if (vm.IsPlaying_ && durationMs > 0) {
        if (!progressTimer) {
            progressTimer = std::make_unique<platform::DispatcherTimer>(vm.Dispatcher());
            progressTimer->Interval(services.progressInterval);
        }
        if (!progressTimer->IsEnabled()) {
            std::weak_ptr<CorvanaWidgetViewModel> weak = vm.WeakFrom(&vm);
            progressTimer->Tick([weak] {
                if (auto self = weak.lock()) self->state_->OnProgressTimerTick();
            });
            progressTimer->Start();
        }
    } else if (progressTimer) {
        progressTimer->Tick(nullptr);
        progressTimer->Stop();
        progressTimer.reset();
    }
}

void CorvanaWidgetViewModel::State::OnProgressTimerTick() {
    if (durationMs <= 0) {
        positionMs = 0;
        vm.SetCurrentlyPlayingTrackProgressPercentage(0);
        return;
    }
    positionMs += 1000;
    vm.SetCurrentlyPlayingTrackProgressPercentage(positionMs / durationMs);
    UpdateTimes();
}

void CorvanaWidgetViewModel::State::UpdateTimes() {
    // Nothing to measure: no times rather than a misleading 0:00.
    const bool timed = durationMs > 0;
    vm.SetElapsedTimeText(timed ? presentation::FormatTime(std::min(positionMs, durationMs)) : QString());
    vm.SetDurationText(timed ? presentation::FormatTime(durationMs) : QString());
}

void CorvanaWidgetViewModel::SetCurrentlyPlayingTrackProgressPercentage(double value) {
    value = std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
    StoreCurrentlyPlayingTrackProgressPercentage(value);
}

// ---- Presentation rules ----

void CorvanaWidgetViewModel::State::UpdatePlayPausePresentation() {
    const presentation::Look look =
        presentation::PlayPause({vm.IsPlaying_, playbackStateReceived, hasContext, vm.IsPlayerOnly_,
                                 FirstFeedItem(vm.Categories_) != nullptr, vm.CorvanaActionsInfo_});
    vm.SetPlayPauseIcon(look.icon);
    vm.SetPlayPauseNarratorText(ResourceHelper::GetString(look.narratorKey));
    vm.SetIsPlayPauseButtonEnabled(look.enabled);
}

void CorvanaWidgetViewModel::State::UpdateLibraryPresentation() {
    const presentation::Look look = presentation::Library(vm.IsInLibrary_);
    vm.SetAddRemoveLibraryIcon(look.icon);
    vm.SetAddRemoveLibraryNarratorText(ResourceHelper::GetString(look.narratorKey));
    vm.SetAddRemoveLibraryButtonBrush(Brush(look.active));
}

void CorvanaWidgetViewModel::State::UpdateShufflePresentation() {
    const presentation::Look look = presentation::Shuffle(vm.IsShuffleEnabled_);
    vm.SetEnableDisableButtonForegroundBrush(Brush(look.active));
    vm.SetEnableDisableNarratorText(ResourceHelper::GetString(look.narratorKey));
}

void CorvanaWidgetViewModel::State::ApplyContentControls(presentation::Content content) {
    const presentation::ContentControls shown = presentation::ControlsFor(content);
    if (shown.showPreviousNext) vm.SetShowPreviousNextControls(*shown.showPreviousNext);
    if (shown.showSkipBackAhead) vm.SetShowSkipBackAheadControls(*shown.showSkipBackAhead);
    vm.SetShowShuffleButton(shown.showShuffle);
}

void CorvanaWidgetViewModel::State::UpdateActions() {
    vm.SetCorvanaActionsInfo(vm.IsPlayerOnly_ ? playerActions : contextActions);
    UpdateRepeatPresentation();
}

void CorvanaWidgetViewModel::State::UpdateRepeatPresentation() {
    const presentation::Look look = presentation::RepeatLook(
        RepeatUnder(playerRepeat, playbackStateReceived && (hasContext || vm.IsPlayerOnly_)));
    vm.SetRepeatIcon(look.icon);
    vm.SetRepeatNarratorText(ResourceHelper::GetString(look.narratorKey));
    vm.SetIsRepeatButtonEnabled(look.enabled);
    vm.SetRepeatButtonBrush(Brush(look.active));
}

void CorvanaWidgetViewModel::State::UpdateVolume() {
    const bool shown = activeDevice && activeDevice->SupportsVolume;
    vm.SetShowVolume(shown);
    // The playback state says the volume as it is now; the device list may be older.
    if (shown) vm.SetVolume(playbackStateReceived ? stateVolume : activeDevice->Volume / 100.0);
}

void CorvanaWidgetViewModel::State::UpdateDeviceButtonBrush() {
    vm.SetPlaybackDeviceSelectionButtonBrush(
        Brush(presentation::DeviceButtonActive(playingElsewhere, vm.IsPlayerOnly_)));
}

void CorvanaWidgetViewModel::State::UpdateShowPinnedCorvanaLogo() {
    vm.SetShowPinnedCorvanaLogo(vm.IsPinnedOnly_ && hasContext);
}

void CorvanaWidgetViewModel::State::SetStartupFlag(bool on) {
    if (on) vm.StoreInErrorState(false);
    vm.SetShowSpinner(on);
}

void CorvanaWidgetViewModel::SetInErrorState(bool value) {
    if (value) state_->SetStartupFlag(false);
    StoreInErrorState(value);
}

void CorvanaWidgetViewModel::SetIsPinnedOnly(bool value) {
    if (!StoreIsPinnedOnly(value)) return;
    state_->UpdateShowPinnedCorvanaLogo();
    // Showing what plays, the window shrinks to the now-playing block while pinned and takes the size of
    // the expanded state (or the collapsed one, without the feed) back after; signed out, it keeps its size.
    if (IsSignedIn_ && state_->widget) {
        auto applying = state_->ApplyExpandedState();
    } else if (ShowNowPlaying_ && state_->widget) {
        auto applying = state_->ApplyPlaybackOnlySize();
    }
}

void CorvanaWidgetViewModel::SetIsExpanded(bool value) {
    if (StoreIsExpanded(value)) {
        auto applying = state_->ApplyExpandedState();
    }
}

// ---- Widget host ----

void CorvanaWidgetViewModel::RegisterForWidgetEvents(std::shared_ptr<platform::IGameBarWidget> widget) {
    state_->RegisterForWidgetEventsAsync(std::move(widget));
}

platform::FireAndForget CorvanaWidgetViewModel::State::RegisterForWidgetEventsAsync(
    std::shared_ptr<platform::IGameBarWidget> host) {
    std::weak_ptr<CorvanaWidgetViewModel> weak = vm.WeakFrom(&vm);
    try {
        if (widget) {
            utils::Logger::Instance().LogInfo("RegisterForWidgetEvents: _widget already set");
            co_return;
        }
        if (!host) throw platform::PlatformError(platform::E_POINTER, "no widget to register with");
        widget = host;
        vm.SetIsPinnedOnly(host->DisplayMode() == platform::GameBarDisplayMode::PinnedOnly);
        displayModeToken = host->GameBarDisplayModeChanged([weak] {
            if (auto self = weak.lock()) self->state_->OnDisplayModeChanged();
        });
        vm.SetOpacity(host->RequestedOpacity());
        opacityToken = host->RequestedOpacityChanged([weak] {
            auto self = weak.lock();
            if (self && self->state_->widget) self->SetOpacity(self->state_->widget->RequestedOpacity());
        });
        if (vm.ShowNowPlaying_ && !vm.IsSignedIn_) {
            co_await ApplyPlaybackOnlySize();
        } else {
            co_await host->TryResizeWindowAsync(kLoggedOutSize.width, kLoggedOutSize.height);
        }
        auto self = weak.lock();
        if (!self) co_return;
        SetStartupFlag(false);
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::RegisterForWidgetEvents", std::current_exception());
    }
}

void CorvanaWidgetViewModel::State::OnDisplayModeChanged() {
    if (widget) vm.SetIsPinnedOnly(widget->DisplayMode() == platform::GameBarDisplayMode::PinnedOnly);
}

platform::Task<void> CorvanaWidgetViewModel::State::ResizeWindowAsync(WindowSize size) {
    try {
        if (auto host = widget) co_await host->TryResizeWindowAsync(size.width, size.height);
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::ResizeWindow", std::current_exception());
    }
}

platform::Task<void> CorvanaWidgetViewModel::State::LaunchUriAsync(std::string uri) {
    try {
        auto host = widget;
        if (!host)
            throw platform::PlatformError(platform::E_POINTER, "no widget to launch " + uri + " through");
        co_await host->LaunchUriAsync(std::move(uri));
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
            if (!IsSignedIn_) state_->ShowPlaybackWithoutFeed(false);
            break;
        case SignIn::PlayerOnly:
            state_->ShowPlaybackWithoutFeed(true);
            break;
        case SignIn::RetryingSignIn:
            // The sign-in failed, so a feed shown so far goes; what plays stays until a try works.
            state_->ShowPlaybackWithoutFeed(false);
            break;
    }
}

void CorvanaWidgetViewModel::State::ShowPlaybackWithoutFeed(bool playerOnly) {
    if (closing) return;
    // A feed on its way belongs to a sign-in that is over.
    ++signInGeneration;
    EndStartupWait();
    const bool wasShowing = vm.ShowNowPlaying_ && !vm.IsSignedIn_ && vm.IsPlayerOnly_ == playerOnly;
    if (playerOnly) {
        // The feed, the library and the context were a Corvana user's: none of them is the player's.
        vm.SetCategories(nullptr);
        vm.SetShowAddRemoveLibraryButton(false);
    }
    vm.SetIsPlayerOnly(playerOnly);
    UpdateActions();
    UpdateDeviceButtonBrush();
    UpdatePlayPausePresentation();
    vm.SetShowExpandButton(false);
    vm.SetIsSignedIn(false);
    vm.SetShowNowPlaying(true);
    if (wasShowing) return;
    if (widget) {
        auto resizing = ApplyPlaybackOnlySize();
    }
    if (controller) {
        controller->RequestPlaybackState();
        controller->RequestDevices();
    }
}

void CorvanaWidgetViewModel::SetSignedIn(bool signedIn) {
    ++state_->signInGeneration;
    if (signedIn) {
        if (state_->closing) return;
        // What Start listening waited for has come: a sign-out from here on shows the buttons, and no
        // wait running out later says the desktop app did not answer.
        state_->EndStartupWait();
        const bool wasPlayerOnly = IsPlayerOnly_;
        SetIsPlayerOnly(false);
        if (wasPlayerOnly) {
            state_->UpdateActions();
            state_->UpdateDeviceButtonBrush();
        }
        SetShowExpandButton(true);
        SetShowNowPlaying(true);
        SetIsSignedIn(true);
        auto loading = state_->FetchHome(state_->signInGeneration);
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
    state_->UpdateRepeatPresentation();
    if (state_->widget) {
        auto resizing = state_->ResizeWindowAsync(kLoggedOutSize);
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

platform::Task<void> CorvanaWidgetViewModel::State::FetchHome(uint64_t generation) {
    // The feed may take as long as an HTTP time-out: the page that goes away meanwhile releases the view
    // model at once, and the load ends quietly when it finds it gone. What the load needs on the way is
    // copied here, as this state goes with the view model.
    std::weak_ptr<CorvanaWidgetViewModel> weak = vm.WeakFrom(&vm);
    const std::shared_ptr<IAccessTokenProvider> provider = tokens;
    const FetchHomeFeed fetch = services.fetchHomeFeed;
    try {
        utils::Logger::Instance().LogInfo("CorvanaWidgetViewModel::FetchHome - fetching partner home feed");
        // A vault round trip: awaited off the UI thread, which it comes back to.
        std::optional<std::string> token;
        if (provider) token = co_await provider->GetAccessTokenAsync();
        if (weak.expired()) co_return;
        if (!token || token->empty()) {
            utils::Logger::Instance().LogError("CorvanaWidgetViewModel::FetchHome - no auth token available");
            co_return;
        }
        auto sections = co_await FetchHomeSectionsRetryingOnce(provider, std::move(*token), fetch);
        std::optional<platform::Task<void>> applying;
        {
            auto self = weak.lock();
            if (!self || generation != signInGeneration) {
                utils::Logger::Instance().LogInfo(
                    "CorvanaWidgetViewModel::FetchHome - signed out or closing meanwhile; feed not shown");
                co_return;
            }
            vm.SetCategories(BuildCategories(sections, controller));
            UpdatePlayPausePresentation();
            if (services.settings) {
                auto stored = services.settings->Lookup(kExpandedSetting);
                if (stored && stored->Kind() == platform::ValueKind::Boolean)
                    vm.StoreIsExpanded(stored->AsBoolean());
            }
            applying.emplace(ApplyExpandedState());
        }
        co_await std::move(*applying);
    } catch (...) {
        // The page went away while the feed was on its way (its UI thread may already refuse work):
        // nothing failed, there is just nobody left to show the feed to.
        auto self = weak.lock();
        if (self && !closing) ReportFailure("CorvanaWidgetViewModel::FetchHome", std::current_exception());
    }
}

platform::Task<void> CorvanaWidgetViewModel::State::ApplyExpandedState() {
    std::weak_ptr<CorvanaWidgetViewModel> weak = vm.WeakFrom(&vm);
    try {
        bool expanded = vm.IsExpanded_;
        vm.SetExpandButtonGlyph(Icon(expanded ? presentation::kCollapseGlyph : presentation::kExpandGlyph));
        vm.SetExpandCollapseNarratorText(ResourceHelper::GetString(
            expanded ? "CollapseWidget_ButtonNarratorText" : "ExpandWidget_ButtonNarratorText"));
        vm.SetIsScrollBarEnabled(expanded);
        if (auto host = widget) {
            const bool pinnedOnly = vm.IsPinnedOnly_;
            WindowSize size = pinnedOnly ? native_page::kPinnedOnlySize
                              : expanded ? kExpandedSize
                                         : native_page::kCollapsedSize;
            co_await host->TryResizeWindowAsync(size.width, size.height);
            if (weak.expired()) co_return;
            host->HorizontalResizeSupported(expanded && !pinnedOnly);
            host->VerticalResizeSupported(expanded && !pinnedOnly);
        }
        // Once more: the branch above may have suspended.
        auto self = weak.lock();
        if (self && services.settings)
            services.settings->Insert(kExpandedSetting, platform::Value(vm.IsExpanded_));
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::ApplyExpandedState", std::current_exception());
    }
}

platform::Task<void> CorvanaWidgetViewModel::State::ApplyPlaybackOnlySize() {
    std::weak_ptr<CorvanaWidgetViewModel> weak = vm.WeakFrom(&vm);
    try {
        if (auto host = widget) {
            const WindowSize size =
                vm.IsPinnedOnly_ ? native_page::kPinnedOnlySize : native_page::kCollapsedSize;
            co_await host->TryResizeWindowAsync(size.width, size.height);
            if (weak.expired()) co_return;
            host->HorizontalResizeSupported(false);
            host->VerticalResizeSupported(false);
        }
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::ApplyPlaybackOnlySize", std::current_exception());
    }
}

// ---- Devices ----

void CorvanaWidgetViewModel::State::OnDevicesStateChanged(const ConnectClusterResponse& cluster) {
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
    std::weak_ptr<CorvanaWidgetViewModel> weak = vm.WeakFrom(&vm);
    vm.Dispatcher()->RunAsync([weak, devices = std::move(devices), active = std::move(active)] {
        if (auto self = weak.lock()) self->state_->ApplyDevices(devices, active);
    });
}

void CorvanaWidgetViewModel::State::ApplyDevices(const std::vector<PlaybackDeviceInfo>& devices,
                                                 const std::optional<PlaybackDeviceInfo>& active) {
    try {
        playbackDevices->Clear();
        std::shared_ptr<CorvanaPlaybackDeviceViewModel> selected;
        for (const auto& device : devices) {
            if (!device.IsValid) continue;
            auto viewModel = CorvanaPlaybackDeviceViewModel::Create(device);
            playbackDevices->Append(viewModel);
            if (!selected && active && device.Id == active->Id) selected = viewModel;
        }
        playingElsewhere = selected && !active->IsSelf;
        activeDevice = selected ? active : std::nullopt;
        UpdateDeviceButtonBrush();
        UpdateVolume();
        vm.SetSelectedPlaybackDevice(selected);
        vm.SetEnablePlaybackDeviceSelectionButton(!playbackDevices->Empty());
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
    auto launching = state_->LaunchUriAsync(std::string(kOpenMinimizedFromWidgetUri));
}

void CorvanaWidgetViewModel::OpenCorvana() {
    auto launching = state_->LaunchUriAsync(std::string(kOpenUri));
}

void CorvanaWidgetViewModel::StartCorvana() {
    state_->SetStartupFlag(true);
    // Only this wait ends the spinner when the desktop app never comes or nobody signs in to it; the
    // signed-out view shows no buttons under the spinner, so the player would be stuck.
    state_->startupTimer = std::make_unique<platform::DispatcherTimer>(Dispatcher());
    state_->startupTimer->Interval(state_->services.startupWait);
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    state_->startupTimer->Tick([weak] {
        if (auto self = weak.lock()) self->state_->OnStartupWaitOver();
    });
    state_->startupTimer->Start();
    if (state_->controller) state_->controller->Reconnect();
    auto launching = state_->LaunchUriAsync(std::string(kOpenMinimizedUri));
}

void CorvanaWidgetViewModel::State::EndStartupWait() {
    if (!startupTimer) return;
    startupTimer->Stop();
    startupTimer.reset();
    SetStartupFlag(false);
}

void CorvanaWidgetViewModel::State::OnStartupWaitOver() {
    startupTimer.reset();
    if (!vm.ShowSpinner_) return;
    if (vm.IsSignedIn_) {
        SetStartupFlag(false);
    } else {
        vm.SetInErrorState(true);
    }
}

void CorvanaWidgetViewModel::State::SendPlaybackCommand(PlaybackAction action) {
    auto self = vm.SharedFrom(&vm);
    if (controller) controller->ModifyPlaybackState(action);
}

void CorvanaWidgetViewModel::PlayPause() {
    if (IsPlaying_) {
        state_->SendPlaybackCommand(PlaybackAction::Pause);
    } else if (!state_->hasContext) {
        // Nothing loaded in the desktop app: start the feed's first item rather than resume nothing.
        if (auto item = FirstFeedItem(Categories_)) {
            item->PlayAsync();
        } else {
            state_->SendPlaybackCommand(PlaybackAction::Resume);
        }
    } else {
        state_->SendPlaybackCommand(PlaybackAction::Resume);
    }
}

void CorvanaWidgetViewModel::Next() {
    state_->SendPlaybackCommand(PlaybackAction::Next);
}

void CorvanaWidgetViewModel::Previous() {
    state_->SendPlaybackCommand(PlaybackAction::Previous);
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
    state_->UpdateTimes();
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
