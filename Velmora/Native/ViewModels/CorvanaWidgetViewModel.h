#pragma once

#include <QColor>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Task.h"
#include "Platform/GameBar/IGameBarWidget.h"
#include "Platform/Storage/LocalSettings.h"
#include "Platform/Threading/DispatcherTimer.h"
#include "Velmora/Common/HomeFeedFetch.h"
#include "Velmora/Common/IAccessTokenProvider.h"
#include "Velmora/Common/WidgetWindow.h"
#include "Velmora/Native/Framework/ViewModelProperty.h"
#include "Velmora/Native/ViewModels/ConvertedPlaybackState.h"
#include "Velmora/Native/ViewModels/CorvanaActionsInfo.h"
#include "Velmora/Native/ViewModels/CorvanaCurrentTrackInfo.h"
#include "Velmora/Native/ViewModels/CorvanaItemViewModel.h"
#include "Velmora/Native/ViewModels/CorvanaPlaybackDeviceViewModel.h"
#include "Velmora/Native/ViewModels/CoverImage.h"
#include "Velmora/Native/ViewModels/ObservableVector.h"
#include "Velmora/Native/ViewModels/PlaybackPresentation.h"
#include "Velmora/Native/ViewModels/ValueThrottle.h"
#include "VelmoraUtils/CorvanaClient.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "VelmoraUtils/LocalCoverGrant.h"
#include "VelmoraUtils/TokenManager.h"

namespace velmora {

// The view model of the native widget page: the now-playing area driven by the desktop app's playback
// state, the home feed, the device picker, the expanded and collapsed states, and every command of the
// page. It follows the widget window (pinned-only mode, opacity) once registered with it, and the sign-in
// through SetSignedIn.
//
// Created and used on the UI thread; desktop events arrive on other threads and are converted there, then
// applied on the UI thread in arrival order. Notifications reach the page on the UI thread only.
class CorvanaWidgetViewModel : public framework::ViewModelBase {
    Q_OBJECT
    VIEW_MODEL_READONLY_PROPERTY(bool, ShowSpinner, true)
    VIEW_MODEL_READONLY_PROPERTY(bool, IsSignedIn, false)
    VIEW_MODEL_READONLY_PROPERTY(bool, ShowNowPlaying, false)
    VIEW_MODEL_READONLY_PROPERTY(bool, IsPlayerOnly, false)
    VIEW_MODEL_PROPERTY_WITH_SETTER(bool, InErrorState, false)
    VIEW_MODEL_PROPERTY_WITH_SETTER(double, CurrentlyPlayingTrackProgressPercentage, 0)
    VIEW_MODEL_PROPERTY(QString, CurrentlyPlayingTrack)
    VIEW_MODEL_PROPERTY(QString, CurrentlyPlayingTrackAlbum)
    VIEW_MODEL_PROPERTY(QString, CurrentlyPlayingTrackArtist)
    VIEW_MODEL_PROPERTY(int, CurrentlyPlayingTrackImageDecodeHeight, 70)
    Q_PROPERTY(velmora::ObservableVector* PlaybackDevices READ PlaybackDevicesModel CONSTANT)
    VIEW_MODEL_OBJECT_PROPERTY(velmora::CorvanaPlaybackDeviceViewModel, SelectedPlaybackDevice)
    VIEW_MODEL_OBJECT_PROPERTY(velmora::ObservableVector, Categories)
    VIEW_MODEL_READONLY_PROPERTY(velmora::CorvanaActionsInfo, CorvanaActionsInfo)
    VIEW_MODEL_PROPERTY(bool, IsPlaying, false)
    VIEW_MODEL_PROPERTY(bool, IsInLibrary, false)
    VIEW_MODEL_PROPERTY(bool, IsShuffleEnabled, false)
    VIEW_MODEL_PROPERTY(bool, IsPlayPauseButtonEnabled, false)
    VIEW_MODEL_PROPERTY(bool, EnablePlaybackDeviceSelectionButton, false)
    VIEW_MODEL_PROPERTY(bool, IsPlaybackDevicesFlyoutOpen, false)
    VIEW_MODEL_PROPERTY(bool, ShowPreviousNextControls, true)
    VIEW_MODEL_PROPERTY(bool, ShowSkipBackAheadControls, false)
    VIEW_MODEL_PROPERTY(bool, ShowAddRemoveLibraryButton, false)
    VIEW_MODEL_PROPERTY(bool, ShowShuffleButton, true)
    // A change also applies the expanded state: glyph, narrator text, scroll bar, window size, setting.
    VIEW_MODEL_PROPERTY_WITH_SETTER(bool, IsExpanded, true)
    VIEW_MODEL_PROPERTY_WITH_SETTER(bool, IsPinnedOnly, false)
    VIEW_MODEL_READONLY_PROPERTY(bool, ShowPinnedCorvanaLogo, false)
    VIEW_MODEL_PROPERTY(double, Opacity, 1.0)
    VIEW_MODEL_PROPERTY(bool, IsScrollBarEnabled, false)
    VIEW_MODEL_PROPERTY(bool, ShowExpandButton, true)
    // The brushes are shared colours.
    VIEW_MODEL_BRUSH_PROPERTY(PlaybackDeviceSelectionButtonBrush)
    VIEW_MODEL_BRUSH_PROPERTY(EnableDisableButtonForegroundBrush)
    VIEW_MODEL_BRUSH_PROPERTY(AddRemoveLibraryButtonBrush)
    VIEW_MODEL_OBJECT_PROPERTY(velmora::CoverImage, ImageSource)
    VIEW_MODEL_PROPERTY(QString, ExpandButtonGlyph)
    VIEW_MODEL_PROPERTY(QString, AddRemoveLibraryIcon)
    VIEW_MODEL_PROPERTY(QString, PlayPauseIcon)
    VIEW_MODEL_PROPERTY(QString, AddRemoveLibraryNarratorText)
    VIEW_MODEL_PROPERTY(QString, PlayPauseNarratorText)
    VIEW_MODEL_PROPERTY(QString, EnableDisableNarratorText)
    VIEW_MODEL_PROPERTY(QString, ExpandCollapseNarratorText)
    // Repeat (off, context, track), the times beside the progress bar and the active device's volume.
    VIEW_MODEL_READONLY_PROPERTY(QString, RepeatIcon, QStringLiteral("repeat"))
    VIEW_MODEL_READONLY_PROPERTY(QString, RepeatNarratorText)
    VIEW_MODEL_READONLY_PROPERTY(bool, IsRepeatButtonEnabled, false)
    VIEW_MODEL_BRUSH_PROPERTY(RepeatButtonBrush)
    VIEW_MODEL_READONLY_PROPERTY(QString, ElapsedTimeText)
    VIEW_MODEL_READONLY_PROPERTY(QString, DurationText)
    VIEW_MODEL_READONLY_PROPERTY(bool, ShowVolume, false)
    VIEW_MODEL_READONLY_PROPERTY(double, Volume, 0)

public:
    // The icons are private-use code points; the page maps each to an icon of ours.
    static constexpr char16_t kPauseIcon = presentation::kPauseIcon;
    static constexpr char16_t kPlayIcon = presentation::kPlayIcon;
    static constexpr char16_t kInLibraryIcon = presentation::kInLibraryIcon;
    static constexpr char16_t kNotInLibraryIcon = presentation::kNotInLibraryIcon;
    static constexpr char16_t kCollapseGlyph = 0xF263;  // expand button while expanded
    static constexpr char16_t kExpandGlyph = 0xF25F;    // expand button while collapsed
    static constexpr int32_t kSkipMs = 15000;

    // What the view model reaches beyond the controller and the token: the feed, the settings file and the
    // progress timer's period. Tests put fakes here.
    struct Services {
        FetchHomeFeed fetchHomeFeed;
        platform::LocalSettings* settings = nullptr;  // not owned; null keeps nothing
        std::chrono::nanoseconds progressInterval = std::chrono::seconds(1);
        // How long StartCorvana's spinner waits for the desktop app to sign the player in.
        std::chrono::nanoseconds startupWait = std::chrono::seconds(30);
        // The one local cover file the page may load: the current playback state's. Null: none is.
        std::shared_ptr<utils::LocalCoverGrant> localCovers;

        static Services Default();
    };

    // On the UI thread. Subscribes to the controller's playback-state and device-list events.
    static std::shared_ptr<CorvanaWidgetViewModel> Create(
        std::shared_ptr<utils::DesktopAPIController> controller, std::shared_ptr<IAccessTokenProvider> tokens,
        Services services = Services::Default());
    ~CorvanaWidgetViewModel() override;

    // The feed rows as the feed load builds them: a collection of CorvanaViewCategoryViewModels.
    static std::shared_ptr<ObservableVector> BuildCategories(
        const std::vector<utils::corvana_client::HomeSection>& sections,
        const std::shared_ptr<utils::DesktopAPIController>& controller);

    // Commands, in the order the page knows them.
    Q_INVOKABLE void OpenCorvanaMinimizedFromWidget();
    Q_INVOKABLE void OpenCorvana();
    Q_INVOKABLE void StartCorvana();
    // Once per view model: follows the window's display mode and opacity and sizes it for the sign-in.
    void RegisterForWidgetEvents(std::shared_ptr<platform::IGameBarWidget> widget);
    void SetSignedIn(bool signedIn);
    // The token manager's state. Signed in and signed out are SetSignedIn's. Player only and signing in
    // show what plays without the feed (collapsed, no expand button); player only also follows the
    // player's restrictions alone and shows no library button. Signing in while signed in keeps the
    // signed-in view until the verdict.
    void SetSignInState(utils::TokenManager::SignInState state);
    // The page is going away: a later sign-in loads nothing.
    void MarkClosing();
    Q_INVOKABLE void PlayPause();
    Q_INVOKABLE void Next();
    Q_INVOKABLE void Previous();
    Q_INVOKABLE void SkipBack();
    Q_INVOKABLE void SkipAhead();
    Q_INVOKABLE void AddRemoveLibrary();
    Q_INVOKABLE void ToggleShuffle();
    Q_INVOKABLE void CycleRepeat();
    // From the progress bar and the volume slider (fractions): while `final` is false the player is still
    // moving it, and at most four commands a second go out; the final value always does.
    Q_INVOKABLE void SeekTo(double fraction, bool final);
    Q_INVOKABLE void ChangeVolume(double fraction, bool final);
    // `item` is the CorvanaPlaybackDeviceViewModel the player chose; anything else only closes the flyout.
    Q_INVOKABLE void OnPlaybackDeviceClicked(QObject* item);

    void SetInErrorState(bool value);
    // Clamped to [0, 1]; NaN and infinities store 0.
    void SetCurrentlyPlayingTrackProgressPercentage(double value);
    const std::shared_ptr<ObservableVector>& PlaybackDevices() const { return playbackDevices_; }
    ObservableVector* PlaybackDevicesModel() const { return playbackDevices_.get(); }
    void SetIsExpanded(bool value);
    void SetIsPinnedOnly(bool value);

    // For tests and diagnostics: whether the one-second progress timer exists.
    bool HasProgressTimer() const { return progressTimer_ != nullptr; }

private:
    CorvanaWidgetViewModel(std::shared_ptr<utils::DesktopAPIController> controller,
                           std::shared_ptr<IAccessTokenProvider> tokens, Services services);
    void Subscribe();

    // Desktop events, on the thread that raised them.
    void OnPlaybackStateChanged(const desktop_api_types::PlaybackStateResponse& state);
    void OnDevicesStateChanged(const desktop_api_types::ConnectClusterResponse& cluster);

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
    struct Throttled;
    ValueThrottle& ThrottleOf(std::unique_ptr<Throttled>& slot, std::function<void(double)> send);
    // Shows what plays without the feed, as player only or while signing in.
    void ShowPlaybackWithoutFeed(bool playerOnly);
    void SetStartupFlag(bool on);
    std::shared_ptr<CorvanaItemViewModel> FirstFeedItem() const;

    // Detached work: each holds the view model weakly, ends quietly once it is gone (checked after every
    // suspension), contains its failures and reports them.
    platform::FireAndForget RegisterForWidgetEventsAsync(std::shared_ptr<platform::IGameBarWidget> widget);
    platform::Task<void> FetchHome(uint64_t signInGeneration);
    platform::Task<void> ApplyExpandedState();
    // The size of playback without the feed: the collapsed block, or the pinned one.
    platform::Task<void> ApplyPlaybackOnlySize();
    platform::Task<void> ResizeWindowAsync(WindowSize size);
    platform::Task<void> LaunchUriAsync(std::string uri);
    void SendPlaybackCommand(utils::PlaybackAction action);

    const std::shared_ptr<utils::DesktopAPIController> controller_;
    const std::shared_ptr<IAccessTokenProvider> tokens_;
    const Services services_;
    utils::EventToken playbackStateToken_;
    utils::EventToken devicesToken_;

    std::shared_ptr<platform::IGameBarWidget> widget_;
    platform::IGameBarWidget::EventToken displayModeToken_ = 0;
    platform::IGameBarWidget::EventToken opacityToken_ = 0;
    std::unique_ptr<platform::DispatcherTimer> progressTimer_;
    std::unique_ptr<platform::DispatcherTimer> startupTimer_;  // while StartCorvana's spinner waits

    std::string currentTrackUri_;
    double positionMs_ = 0;
    double durationMs_ = 0;
    bool playbackStateReceived_ = false;
    bool hasContext_ = false;
    // The last state's actions under the context rule, and under the restrictions alone.
    velmora::CorvanaActionsInfo contextActions_;
    velmora::CorvanaActionsInfo playerActions_;
    // The last device list's active device is another one than this machine.
    bool playingElsewhere_ = false;
    std::optional<PlaybackDeviceInfo> activeDevice_;  // of the last device list
    presentation::RepeatState playerRepeat_;
    double stateVolume_ = 0;
    // The seek and volume commands, each throttled on a one-shot timer of its own.
    std::unique_ptr<Throttled> seek_;
    std::unique_ptr<Throttled> volume_;
    // Also read where a feed load fails, which may be off the UI thread.
    std::atomic<bool> closing_ = false;
    // Bumped by every sign-in, sign-out and MarkClosing, so that a feed load started before one of them
    // does not apply its result after it.
    uint64_t signInGeneration_ = 0;

    const std::shared_ptr<ObservableVector> playbackDevices_ = ObservableVector::Create();
};

}  // namespace velmora
