#include "Velmora/Native/ViewModels/CorvanaWidgetViewModel.h"

#include <cmath>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Storage/ApplicationData.h"
#include "Velmora/Native/Framework/FailureReport.h"
#include "Velmora/Native/Framework/ResourceHelper.h"
#include "Velmora/Native/ViewModels/CorvanaViewCategoryViewModel.h"
#include "Velmora/Native/ViewModels/PlaybackPresentation.h"
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

}  // namespace

struct CorvanaWidgetViewModel::Throttled {
    std::unique_ptr<platform::DispatcherTimer> timer;
    std::optional<ValueThrottle> throttle;
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
    : controller_(std::move(controller)), tokens_(std::move(tokens)), services_(std::move(services)) {}

void CorvanaWidgetViewModel::Subscribe() {
    if (!controller_) return;
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    playbackStateToken_ = controller_->PlaybackStateChanged.Add([weak](const PlaybackStateResponse& state) {
        if (auto self = weak.lock()) self->OnPlaybackStateChanged(state);
    });
    devicesToken_ = controller_->DevicesChanged.Add([weak](const ConnectClusterResponse& cluster) {
        if (auto self = weak.lock()) self->OnDevicesStateChanged(cluster);
    });
}

CorvanaWidgetViewModel::~CorvanaWidgetViewModel() {
    if (controller_) {
        controller_->PlaybackStateChanged.Remove(playbackStateToken_);
        controller_->DevicesChanged.Remove(devicesToken_);
    }
    if (widget_) {
        widget_->GameBarDisplayModeChanged(displayModeToken_);
        widget_->RequestedOpacityChanged(opacityToken_);
    }
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
        hasContext_ = state.HasContext;
        UpdateShowPinnedCorvanaLogo();
        contextActions_ = state.Actions;
        playerActions_ = state.PlayerActions;
        UpdateActions();
        playbackStateReceived_ = true;
        playerRepeat_ = state.PlayerRepeat;
        stateVolume_ = state.Volume;
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
        currentTrackUri_ = info.Uri;
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
        positionMs_ = info.PositionMs;
        durationMs_ = info.DurationMs;
        if (durationMs_ > 0) SetCurrentlyPlayingTrackProgressPercentage(positionMs_ / durationMs_);
        UpdateCover(info.ImageUrl);
        playing = info.IsPlaying;
    } else {
        SetCurrentlyPlayingTrack({});
        SetCurrentlyPlayingTrackAlbum({});
        SetCurrentlyPlayingTrackArtist({});
        SetIsShuffleEnabled(false);
        ApplyContentControls(presentation::Content::Nothing);
        SetShowAddRemoveLibraryButton(false);
        positionMs_ = 0;
        durationMs_ = 0;
        currentTrackUri_.clear();
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
    if (services_.localCovers) services_.localCovers->Follow(imageUrl);
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
    if (IsPlaying_ && durationMs_ > 0) {
        if (!progressTimer_) {
            progressTimer_ = std::make_unique<platform::DispatcherTimer>(Dispatcher());
            progressTimer_->Interval(services_.progressInterval);
        }
        if (!progressTimer_->IsEnabled()) {
            std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
            progressTimer_->Tick([weak] {
                if (auto self = weak.lock()) self->OnProgressTimerTick();
            });
            progressTimer_->Start();
        }
    } else if (progressTimer_) {
        progressTimer_->Tick(nullptr);
        progressTimer_->Stop();
        progressTimer_.reset();
    }
}

void CorvanaWidgetViewModel::OnProgressTimerTick() {
    if (durationMs_ <= 0) {
        positionMs_ = 0;
        SetCurrentlyPlayingTrackProgressPercentage(0);
        return;
    }
    positionMs_ += 1000;
    SetCurrentlyPlayingTrackProgressPercentage(positionMs_ / durationMs_);
    UpdateTimes();
}

void CorvanaWidgetViewModel::UpdateTimes() {
    // Nothing to measure: no times rather than a misleading 0:00.
    const bool timed = durationMs_ > 0;
    SetElapsedTimeText(timed ? presentation::FormatTime(std::min(positionMs_, durationMs_)) : QString());
    SetDurationText(timed ? presentation::FormatTime(durationMs_) : QString());
}

void CorvanaWidgetViewModel::SetCurrentlyPlayingTrackProgressPercentage(double value) {
    value = std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
    StoreCurrentlyPlayingTrackProgressPercentage(value);
}

// ---- Presentation rules ----

void CorvanaWidgetViewModel::UpdatePlayPausePresentation() {
    const presentation::Look look =
        presentation::PlayPause({IsPlaying_, playbackStateReceived_, hasContext_, IsPlayerOnly_,
                                 FirstFeedItem() != nullptr, CorvanaActionsInfo_});
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
    SetCorvanaActionsInfo(IsPlayerOnly_ ? playerActions_ : contextActions_);
    UpdateRepeatPresentation();
}

void CorvanaWidgetViewModel::UpdateRepeatPresentation() {
    const presentation::Look look = presentation::RepeatLook(
        RepeatUnder(playerRepeat_, playbackStateReceived_ && (hasContext_ || IsPlayerOnly_)));
    SetRepeatIcon(look.icon);
    SetRepeatNarratorText(ResourceHelper::GetString(look.narratorKey));
    SetIsRepeatButtonEnabled(look.enabled);
    SetRepeatButtonBrush(Brush(look.active));
}

void CorvanaWidgetViewModel::UpdateVolume() {
    const bool shown = activeDevice_ && activeDevice_->SupportsVolume;
    SetShowVolume(shown);
    // The playback state says the volume as it is now; the device list may be older.
    if (shown) SetVolume(playbackStateReceived_ ? stateVolume_ : activeDevice_->Volume / 100.0);
}

void CorvanaWidgetViewModel::UpdateDeviceButtonBrush() {
    SetPlaybackDeviceSelectionButtonBrush(
        Brush(presentation::DeviceButtonActive(playingElsewhere_, IsPlayerOnly_)));
}

void CorvanaWidgetViewModel::UpdateShowPinnedCorvanaLogo() {
    SetShowPinnedCorvanaLogo(IsPinnedOnly_ && hasContext_);
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
    if (IsSignedIn_ && widget_) {
        auto applying = ApplyExpandedState();
    } else if (ShowNowPlaying_ && widget_) {
        auto applying = ApplyPlaybackOnlySize();
    }
}

void CorvanaWidgetViewModel::SetIsExpanded(bool value) {
    if (StoreIsExpanded(value)) {
        auto applying = ApplyExpandedState();
    }
}

std::shared_ptr<CorvanaItemViewModel> CorvanaWidgetViewModel::FirstFeedItem() const {
    if (!Categories_) return nullptr;
    for (const auto& entry : Categories_->Items()) {
        auto category = std::dynamic_pointer_cast<CorvanaViewCategoryViewModel>(entry);
        if (category && category->Items() && !category->Items()->Empty())
            return category->Items()->At<CorvanaItemViewModel>(0);
    }
    return nullptr;
}

// ---- Widget host ----

void CorvanaWidgetViewModel::RegisterForWidgetEvents(std::shared_ptr<platform::IGameBarWidget> widget) {
    RegisterForWidgetEventsAsync(std::move(widget));
}

platform::FireAndForget CorvanaWidgetViewModel::RegisterForWidgetEventsAsync(
    std::shared_ptr<platform::IGameBarWidget> widget) {
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    try {
        if (widget_) {
            utils::Logger::Instance().LogInfo("RegisterForWidgetEvents: _widget already set");
            co_return;
        }
        if (!widget) throw platform::PlatformError(platform::E_POINTER, "no widget to register with");
        widget_ = widget;
        SetIsPinnedOnly(widget->DisplayMode() == platform::GameBarDisplayMode::PinnedOnly);
        displayModeToken_ = widget->GameBarDisplayModeChanged([weak] {
            if (auto self = weak.lock()) self->OnDisplayModeChanged();
        });
        SetOpacity(widget->RequestedOpacity());
        opacityToken_ = widget->RequestedOpacityChanged([weak] {
            auto self = weak.lock();
            if (self && self->widget_) self->SetOpacity(self->widget_->RequestedOpacity());
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
    if (widget_) SetIsPinnedOnly(widget_->DisplayMode() == platform::GameBarDisplayMode::PinnedOnly);
}

platform::Task<void> CorvanaWidgetViewModel::ResizeWindowAsync(WindowSize size) {
    try {
        if (auto widget = widget_) co_await widget->TryResizeWindowAsync(size.width, size.height);
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::ResizeWindow", std::current_exception());
    }
}

platform::Task<void> CorvanaWidgetViewModel::LaunchUriAsync(std::string uri) {
    try {
        auto widget = widget_;
        if (!widget)
            throw platform::PlatformError(platform::E_POINTER, "no widget to launch " + uri + " through");
        co_await widget->LaunchUriAsync(std::move(uri));
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::LaunchUri", std::current_exception());
    }
}

// ---- Sign-in and the feed ----

void CorvanaWidgetViewModel::SetSignInState(utils::TokenManager::SignInState state) {
    using State = utils::TokenManager::SignInState;
    switch (state) {
        case State::SignedIn:
            SetSignedIn(true);
            break;
        case State::SignedOut:
            SetSignedIn(false);
            break;
        case State::SigningIn:
            // Signed in already, the feed stays until the verdict says otherwise.
            if (!IsSignedIn_) ShowPlaybackWithoutFeed(false);
            break;
        case State::PlayerOnly:
            ShowPlaybackWithoutFeed(true);
            break;
        case State::RetryingSignIn:
            // The sign-in failed, so a feed shown so far goes; what plays stays until a try works.
            ShowPlaybackWithoutFeed(false);
            break;
    }
}

void CorvanaWidgetViewModel::ShowPlaybackWithoutFeed(bool playerOnly) {
    if (closing_) return;
    // A feed on its way belongs to a sign-in that is over.
    ++signInGeneration_;
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
    if (widget_) {
        auto resizing = ApplyPlaybackOnlySize();
    }
    if (controller_) {
        controller_->RequestPlaybackState();
        controller_->RequestDevices();
    }
}

void CorvanaWidgetViewModel::SetSignedIn(bool signedIn) {
    ++signInGeneration_;
    if (signedIn) {
        if (closing_) return;
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
        auto loading = FetchHome(signInGeneration_);
        if (controller_) {
            controller_->RequestPlaybackState();
            controller_->RequestDevices();
        }
        return;
    }
    contextActions_ = {};
    playerActions_ = {};
    playerRepeat_ = {};
    SetCorvanaActionsInfo({});
    playbackStateReceived_ = false;
    UpdateRepeatPresentation();
    if (widget_) {
        auto resizing = ResizeWindowAsync(kLoggedOutSize);
    }
    SetIsPlayerOnly(false);
    SetShowNowPlaying(false);
    SetIsSignedIn(false);
}

void CorvanaWidgetViewModel::MarkClosing() {
    closing_ = true;
    ++signInGeneration_;
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
    const std::shared_ptr<IAccessTokenProvider> tokens = tokens_;
    const FetchHomeFeed fetch = services_.fetchHomeFeed;
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
            if (!self || signInGeneration != signInGeneration_) {
                utils::Logger::Instance().LogInfo(
                    "CorvanaWidgetViewModel::FetchHome - signed out or closing meanwhile; feed not shown");
                co_return;
            }
            SetCategories(BuildCategories(sections, controller_));
            UpdatePlayPausePresentation();
            if (services_.settings) {
                auto stored = services_.settings->Lookup(kExpandedSetting);
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
        if (self && !closing_) ReportFailure("CorvanaWidgetViewModel::FetchHome", std::current_exception());
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
        if (auto widget = widget_) {
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
        if (self && services_.settings)
            services_.settings->Insert(kExpandedSetting, platform::Value(IsExpanded_));
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::ApplyExpandedState", std::current_exception());
    }
}

platform::Task<void> CorvanaWidgetViewModel::ApplyPlaybackOnlySize() {
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    try {
        if (auto widget = widget_) {
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
        playbackDevices_->Clear();
        std::shared_ptr<CorvanaPlaybackDeviceViewModel> selected;
        for (const auto& device : devices) {
            if (!device.IsValid) continue;
            auto viewModel = CorvanaPlaybackDeviceViewModel::Create(device);
            playbackDevices_->Append(viewModel);
            if (!selected && active && device.Id == active->Id) selected = viewModel;
        }
        playingElsewhere_ = selected && !active->IsSelf;
        activeDevice_ = selected ? active : std::nullopt;
        UpdateDeviceButtonBrush();
        UpdateVolume();
        SetSelectedPlaybackDevice(selected);
        SetEnablePlaybackDeviceSelectionButton(!playbackDevices_->Empty());
        utils::Logger::Instance().LogInfo("OnDevicesStateChanged: returning");
    } catch (...) {
        ReportFailure("CorvanaWidgetViewModel::OnDevicesStateChanged", std::current_exception());
    }
}

void CorvanaWidgetViewModel::OnPlaybackDeviceClicked(QObject* item) {
    auto self = SharedFrom(this);
    try {
        auto* device = qobject_cast<CorvanaPlaybackDeviceViewModel*>(item);
        if (device && controller_) {
            controller_->TransferPlayback(device->Device().Id);
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
    startupTimer_ = std::make_unique<platform::DispatcherTimer>(Dispatcher());
    startupTimer_->Interval(services_.startupWait);
    std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
    startupTimer_->Tick([weak] {
        if (auto self = weak.lock()) self->OnStartupWaitOver();
    });
    startupTimer_->Start();
    if (controller_) controller_->Reconnect();
    auto launching = LaunchUriAsync("corvana:open:minimized");
}

void CorvanaWidgetViewModel::EndStartupWait() {
    if (!startupTimer_) return;
    startupTimer_->Stop();
    startupTimer_.reset();
    SetStartupFlag(false);
}

void CorvanaWidgetViewModel::OnStartupWaitOver() {
    startupTimer_.reset();
    if (!ShowSpinner_) return;
    if (IsSignedIn_) {
        SetStartupFlag(false);
    } else {
        SetInErrorState(true);
    }
}

void CorvanaWidgetViewModel::SendPlaybackCommand(PlaybackAction action) {
    auto self = SharedFrom(this);
    if (controller_) controller_->ModifyPlaybackState(action);
}

void CorvanaWidgetViewModel::PlayPause() {
    if (IsPlaying_) {
        SendPlaybackCommand(PlaybackAction::Pause);
    } else if (!hasContext_) {
        // Nothing loaded in the desktop app: start the feed's first item rather than resume nothing.
        if (auto item = FirstFeedItem()) {
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
    if (controller_) controller_->Seek(-kSkipMs, true);
}

void CorvanaWidgetViewModel::SkipAhead() {
    if (controller_) controller_->Seek(kSkipMs, true);
}

void CorvanaWidgetViewModel::AddRemoveLibrary() {
    if (!controller_ || currentTrackUri_.empty()) return;
    if (IsInLibrary_) {
        controller_->UnlikeTrack(currentTrackUri_);
    } else {
        controller_->LikeTrack(currentTrackUri_);
    }
}

void CorvanaWidgetViewModel::ToggleShuffle() {
    if (controller_) controller_->SetShuffle(!IsShuffleEnabled_);
}

void CorvanaWidgetViewModel::CycleRepeat() {
    const auto next = presentation::NextRepeat(
        RepeatUnder(playerRepeat_, playbackStateReceived_ && (hasContext_ || IsPlayerOnly_)));
    if (next && controller_) controller_->SetRepeat(presentation::RepeatText(*next));
}

ValueThrottle& CorvanaWidgetViewModel::ThrottleOf(std::unique_ptr<Throttled>& slot,
                                                  std::function<void(double)> send) {
    if (!slot) {
        slot = std::make_unique<Throttled>();
        slot->timer = std::make_unique<platform::DispatcherTimer>(Dispatcher());
        platform::DispatcherTimer* timer = slot->timer.get();
        Throttled* throttled = slot.get();
        std::weak_ptr<CorvanaWidgetViewModel> weak = WeakFrom(this);
        // One shot: the periodic timer stops at its first tick.
        timer->Tick([weak, throttled] {
            if (auto self = weak.lock()) {
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

void CorvanaWidgetViewModel::SeekTo(double fraction, bool final) {
    if (!controller_ || durationMs_ <= 0 || !CorvanaActionsInfo_.CanSeek || !std::isfinite(fraction)) return;
    // The bar and the elapsed time follow the player's hand; the next playback state has the last word.
    positionMs_ = std::round(std::clamp(fraction, 0.0, 1.0) * durationMs_);
    SetCurrentlyPlayingTrackProgressPercentage(positionMs_ / durationMs_);
    UpdateTimes();
    auto& throttle =
        ThrottleOf(seek_, [this](double ms) { controller_->Seek(static_cast<int32_t>(ms), false); });
    final ? throttle.Finish(positionMs_) : throttle.Update(positionMs_);
}

void CorvanaWidgetViewModel::ChangeVolume(double fraction, bool final) {
    if (!controller_ || !ShowVolume_ || !std::isfinite(fraction)) return;
    // In whole percent, as the desktop app keeps it.
    const double volume = std::round(std::clamp(fraction, 0.0, 1.0) * 100) / 100;
    SetVolume(volume);
    auto& throttle = ThrottleOf(volume_, [this](double value) { controller_->SetVolume(value); });
    final ? throttle.Finish(volume) : throttle.Update(volume);
}

}  // namespace velmora
