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
#include "Velmora/Native/Framework/ViewModelBase.h"
#include "Velmora/Native/ViewModels/ConvertedPlaybackState.h"
#include "Velmora/Native/ViewModels/CorvanaActionsInfo.h"
#include "Velmora/Native/ViewModels/CorvanaCurrentTrackInfo.h"
#include "Velmora/Native/ViewModels/CorvanaItemViewModel.h"
#include "Velmora/Native/ViewModels/CorvanaPlaybackDeviceViewModel.h"
#include "Velmora/Native/ViewModels/CoverImage.h"
#include "Velmora/Native/ViewModels/ObservableVector.h"
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
    Q_PROPERTY(bool ShowSpinner READ ShowSpinner NOTIFY showSpinnerChanged)
    Q_PROPERTY(bool IsSignedIn READ IsSignedIn NOTIFY isSignedInChanged)
    Q_PROPERTY(bool ShowNowPlaying READ ShowNowPlaying NOTIFY showNowPlayingChanged)
    Q_PROPERTY(bool IsPlayerOnly READ IsPlayerOnly NOTIFY isPlayerOnlyChanged)
    Q_PROPERTY(bool InErrorState READ InErrorState WRITE SetInErrorState NOTIFY inErrorStateChanged)
    Q_PROPERTY(
        double CurrentlyPlayingTrackProgressPercentage READ CurrentlyPlayingTrackProgressPercentage WRITE
            SetCurrentlyPlayingTrackProgressPercentage NOTIFY currentlyPlayingTrackProgressPercentageChanged)
    Q_PROPERTY(QString CurrentlyPlayingTrack READ CurrentlyPlayingTrack WRITE SetCurrentlyPlayingTrack NOTIFY
                   currentlyPlayingTrackChanged)
    Q_PROPERTY(QString CurrentlyPlayingTrackAlbum READ CurrentlyPlayingTrackAlbum WRITE
                   SetCurrentlyPlayingTrackAlbum NOTIFY currentlyPlayingTrackAlbumChanged)
    Q_PROPERTY(QString CurrentlyPlayingTrackArtist READ CurrentlyPlayingTrackArtist WRITE
                   SetCurrentlyPlayingTrackArtist NOTIFY currentlyPlayingTrackArtistChanged)
    Q_PROPERTY(
        int CurrentlyPlayingTrackImageDecodeHeight READ CurrentlyPlayingTrackImageDecodeHeight WRITE
            SetCurrentlyPlayingTrackImageDecodeHeight NOTIFY currentlyPlayingTrackImageDecodeHeightChanged)
    Q_PROPERTY(velmora::ObservableVector* PlaybackDevices READ PlaybackDevicesModel CONSTANT)
    Q_PROPERTY(velmora::CorvanaPlaybackDeviceViewModel* SelectedPlaybackDevice READ
                   SelectedPlaybackDeviceObject NOTIFY selectedPlaybackDeviceChanged)
    Q_PROPERTY(velmora::ObservableVector* Categories READ CategoriesModel NOTIFY categoriesChanged)
    Q_PROPERTY(
        velmora::CorvanaActionsInfo CorvanaActionsInfo READ ActionsInfo NOTIFY corvanaActionsInfoChanged)
    Q_PROPERTY(bool IsPlaying READ IsPlaying WRITE SetIsPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(bool IsInLibrary READ IsInLibrary WRITE SetIsInLibrary NOTIFY isInLibraryChanged)
    Q_PROPERTY(
        bool IsShuffleEnabled READ IsShuffleEnabled WRITE SetIsShuffleEnabled NOTIFY isShuffleEnabledChanged)
    Q_PROPERTY(bool IsPlayPauseButtonEnabled READ IsPlayPauseButtonEnabled WRITE SetIsPlayPauseButtonEnabled
                   NOTIFY isPlayPauseButtonEnabledChanged)
    Q_PROPERTY(bool EnablePlaybackDeviceSelectionButton READ EnablePlaybackDeviceSelectionButton WRITE
                   SetEnablePlaybackDeviceSelectionButton NOTIFY enablePlaybackDeviceSelectionButtonChanged)
    Q_PROPERTY(bool IsPlaybackDevicesFlyoutOpen READ IsPlaybackDevicesFlyoutOpen WRITE
                   SetIsPlaybackDevicesFlyoutOpen NOTIFY isPlaybackDevicesFlyoutOpenChanged)
    Q_PROPERTY(bool ShowPreviousNextControls READ ShowPreviousNextControls WRITE SetShowPreviousNextControls
                   NOTIFY showPreviousNextControlsChanged)
    Q_PROPERTY(bool ShowSkipBackAheadControls READ ShowSkipBackAheadControls WRITE
                   SetShowSkipBackAheadControls NOTIFY showSkipBackAheadControlsChanged)
    Q_PROPERTY(bool ShowAddRemoveLibraryButton READ ShowAddRemoveLibraryButton WRITE
                   SetShowAddRemoveLibraryButton NOTIFY showAddRemoveLibraryButtonChanged)
    Q_PROPERTY(bool ShowShuffleButton READ ShowShuffleButton WRITE SetShowShuffleButton NOTIFY
                   showShuffleButtonChanged)
    Q_PROPERTY(bool IsExpanded READ IsExpanded WRITE SetIsExpanded NOTIFY isExpandedChanged)
    Q_PROPERTY(bool IsPinnedOnly READ IsPinnedOnly WRITE SetIsPinnedOnly NOTIFY isPinnedOnlyChanged)
    Q_PROPERTY(bool ShowPinnedCorvanaLogo READ ShowPinnedCorvanaLogo NOTIFY showPinnedCorvanaLogoChanged)
    Q_PROPERTY(double Opacity READ Opacity WRITE SetOpacity NOTIFY opacityChanged)
    Q_PROPERTY(bool IsScrollBarEnabled READ IsScrollBarEnabled WRITE SetIsScrollBarEnabled NOTIFY
                   isScrollBarEnabledChanged)
    Q_PROPERTY(
        bool ShowExpandButton READ ShowExpandButton WRITE SetShowExpandButton NOTIFY showExpandButtonChanged)
    Q_PROPERTY(QColor PlaybackDeviceSelectionButtonBrush READ PlaybackDeviceSelectionButtonBrush NOTIFY
                   playbackDeviceSelectionButtonBrushChanged)
    Q_PROPERTY(QColor EnableDisableButtonForegroundBrush READ EnableDisableButtonForegroundBrush NOTIFY
                   enableDisableButtonForegroundBrushChanged)
    Q_PROPERTY(velmora::CoverImage* ImageSource READ ImageSourceObject NOTIFY imageSourceChanged)
    Q_PROPERTY(QString ExpandButtonGlyph READ ExpandButtonGlyph WRITE SetExpandButtonGlyph NOTIFY
                   expandButtonGlyphChanged)
    Q_PROPERTY(QString AddRemoveLibraryIcon READ AddRemoveLibraryIcon WRITE SetAddRemoveLibraryIcon NOTIFY
                   addRemoveLibraryIconChanged)
    Q_PROPERTY(QString PlayPauseIcon READ PlayPauseIcon WRITE SetPlayPauseIcon NOTIFY playPauseIconChanged)
    Q_PROPERTY(QString AddRemoveLibraryNarratorText READ AddRemoveLibraryNarratorText WRITE
                   SetAddRemoveLibraryNarratorText NOTIFY addRemoveLibraryNarratorTextChanged)
    Q_PROPERTY(QString PlayPauseNarratorText READ PlayPauseNarratorText WRITE SetPlayPauseNarratorText NOTIFY
                   playPauseNarratorTextChanged)
    Q_PROPERTY(QString EnableDisableNarratorText READ EnableDisableNarratorText WRITE
                   SetEnableDisableNarratorText NOTIFY enableDisableNarratorTextChanged)
    Q_PROPERTY(QString ExpandCollapseNarratorText READ ExpandCollapseNarratorText WRITE
                   SetExpandCollapseNarratorText NOTIFY expandCollapseNarratorTextChanged)

public:
    // The icons are private-use code points; the page maps each to an icon of ours.
    static constexpr char16_t kPauseIcon = 0xF131;         // play/pause while playing
    static constexpr char16_t kPlayIcon = 0xF132;          // play/pause while not playing
    static constexpr char16_t kInLibraryIcon = 0xF321;     // add/remove while in the library
    static constexpr char16_t kNotInLibraryIcon = 0xF31F;  // add/remove while not in the library
    static constexpr char16_t kCollapseGlyph = 0xF263;     // expand button while expanded
    static constexpr char16_t kExpandGlyph = 0xF25F;       // expand button while collapsed
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
    // `item` is the CorvanaPlaybackDeviceViewModel the player chose; anything else only closes the flyout.
    Q_INVOKABLE void OnPlaybackDeviceClicked(QObject* item);

    bool ShowSpinner() const { return showSpinner_; }
    bool IsSignedIn() const { return isSignedIn_; }
    bool ShowNowPlaying() const { return showNowPlaying_; }
    bool IsPlayerOnly() const { return isPlayerOnly_; }
    bool InErrorState() const { return inErrorState_; }
    void SetInErrorState(bool value);
    double CurrentlyPlayingTrackProgressPercentage() const { return progress_; }
    // Clamped to [0, 1]; NaN and infinities store 0.
    void SetCurrentlyPlayingTrackProgressPercentage(double value);
    QString CurrentlyPlayingTrack() const { return track_; }
    void SetCurrentlyPlayingTrack(QString value) {
        SetProperty(track_, std::move(value), "CurrentlyPlayingTrack");
    }
    QString CurrentlyPlayingTrackAlbum() const { return album_; }
    void SetCurrentlyPlayingTrackAlbum(QString value) {
        SetProperty(album_, std::move(value), "CurrentlyPlayingTrackAlbum");
    }
    QString CurrentlyPlayingTrackArtist() const { return artist_; }
    void SetCurrentlyPlayingTrackArtist(QString value) {
        SetProperty(artist_, std::move(value), "CurrentlyPlayingTrackArtist");
    }
    int CurrentlyPlayingTrackImageDecodeHeight() const { return decodeHeight_; }
    void SetCurrentlyPlayingTrackImageDecodeHeight(int value) {
        SetProperty(decodeHeight_, value, "CurrentlyPlayingTrackImageDecodeHeight");
    }
    const std::shared_ptr<ObservableVector>& PlaybackDevices() const { return playbackDevices_; }
    ObservableVector* PlaybackDevicesModel() const { return playbackDevices_.get(); }
    const std::shared_ptr<CorvanaPlaybackDeviceViewModel>& SelectedPlaybackDevice() const {
        return selectedDevice_;
    }
    CorvanaPlaybackDeviceViewModel* SelectedPlaybackDeviceObject() const { return selectedDevice_.get(); }
    void SetSelectedPlaybackDevice(std::shared_ptr<CorvanaPlaybackDeviceViewModel> value) {
        SetProperty(selectedDevice_, std::move(value), "SelectedPlaybackDevice");
    }
    const std::shared_ptr<ObservableVector>& Categories() const { return categories_; }
    ObservableVector* CategoriesModel() const { return categories_.get(); }
    void SetCategories(std::shared_ptr<ObservableVector> value) {
        SetProperty(categories_, std::move(value), "Categories");
    }
    velmora::CorvanaActionsInfo ActionsInfo() const { return actions_; }
    void SetCorvanaActionsInfo(velmora::CorvanaActionsInfo value) {
        SetProperty(actions_, value, "CorvanaActionsInfo");
    }
    bool IsPlaying() const { return isPlaying_; }
    void SetIsPlaying(bool value) { SetProperty(isPlaying_, value, "IsPlaying"); }
    bool IsInLibrary() const { return isInLibrary_; }
    void SetIsInLibrary(bool value) { SetProperty(isInLibrary_, value, "IsInLibrary"); }
    bool IsShuffleEnabled() const { return isShuffleEnabled_; }
    void SetIsShuffleEnabled(bool value) { SetProperty(isShuffleEnabled_, value, "IsShuffleEnabled"); }
    bool IsPlayPauseButtonEnabled() const { return isPlayPauseButtonEnabled_; }
    void SetIsPlayPauseButtonEnabled(bool value) {
        SetProperty(isPlayPauseButtonEnabled_, value, "IsPlayPauseButtonEnabled");
    }
    bool EnablePlaybackDeviceSelectionButton() const { return enableDeviceSelectionButton_; }
    void SetEnablePlaybackDeviceSelectionButton(bool value) {
        SetProperty(enableDeviceSelectionButton_, value, "EnablePlaybackDeviceSelectionButton");
    }
    bool IsPlaybackDevicesFlyoutOpen() const { return isDevicesFlyoutOpen_; }
    void SetIsPlaybackDevicesFlyoutOpen(bool value) {
        SetProperty(isDevicesFlyoutOpen_, value, "IsPlaybackDevicesFlyoutOpen");
    }
    bool ShowPreviousNextControls() const { return showPreviousNext_; }
    void SetShowPreviousNextControls(bool value) {
        SetProperty(showPreviousNext_, value, "ShowPreviousNextControls");
    }
    bool ShowSkipBackAheadControls() const { return showSkipBackAhead_; }
    void SetShowSkipBackAheadControls(bool value) {
        SetProperty(showSkipBackAhead_, value, "ShowSkipBackAheadControls");
    }
    bool ShowAddRemoveLibraryButton() const { return showAddRemoveLibrary_; }
    void SetShowAddRemoveLibraryButton(bool value) {
        SetProperty(showAddRemoveLibrary_, value, "ShowAddRemoveLibraryButton");
    }
    bool ShowShuffleButton() const { return showShuffle_; }
    void SetShowShuffleButton(bool value) { SetProperty(showShuffle_, value, "ShowShuffleButton"); }
    bool IsExpanded() const { return isExpanded_; }
    // A change also applies the expanded state: glyph, narrator text, scroll bar, window size, setting.
    void SetIsExpanded(bool value);
    bool IsPinnedOnly() const { return isPinnedOnly_; }
    void SetIsPinnedOnly(bool value);
    bool ShowPinnedCorvanaLogo() const { return showPinnedLogo_; }
    double Opacity() const { return opacity_; }
    void SetOpacity(double value) { SetProperty(opacity_, value, "Opacity"); }
    bool IsScrollBarEnabled() const { return isScrollBarEnabled_; }
    void SetIsScrollBarEnabled(bool value) { SetProperty(isScrollBarEnabled_, value, "IsScrollBarEnabled"); }
    bool ShowExpandButton() const { return showExpandButton_; }
    void SetShowExpandButton(bool value) { SetProperty(showExpandButton_, value, "ShowExpandButton"); }
    // The two brushes are shared colours; no colour (an invalid QColor) before the first rule sets one.
    QColor PlaybackDeviceSelectionButtonBrush() const {
        return deviceButtonBrush_ ? *deviceButtonBrush_ : QColor();
    }
    void SetPlaybackDeviceSelectionButtonBrush(std::shared_ptr<const QColor> value) {
        SetProperty(deviceButtonBrush_, std::move(value), "PlaybackDeviceSelectionButtonBrush");
    }
    QColor EnableDisableButtonForegroundBrush() const { return shuffleBrush_ ? *shuffleBrush_ : QColor(); }
    void SetEnableDisableButtonForegroundBrush(std::shared_ptr<const QColor> value) {
        SetProperty(shuffleBrush_, std::move(value), "EnableDisableButtonForegroundBrush");
    }
    const std::shared_ptr<CoverImage>& ImageSource() const { return imageSource_; }
    CoverImage* ImageSourceObject() const { return imageSource_.get(); }
    void SetImageSource(std::shared_ptr<CoverImage> value) {
        SetProperty(imageSource_, std::move(value), "ImageSource");
    }
    QString ExpandButtonGlyph() const { return expandGlyph_; }
    void SetExpandButtonGlyph(QString value) {
        SetProperty(expandGlyph_, std::move(value), "ExpandButtonGlyph");
    }
    QString AddRemoveLibraryIcon() const { return libraryIcon_; }
    void SetAddRemoveLibraryIcon(QString value) {
        SetProperty(libraryIcon_, std::move(value), "AddRemoveLibraryIcon");
    }
    QString PlayPauseIcon() const { return playPauseIcon_; }
    void SetPlayPauseIcon(QString value) { SetProperty(playPauseIcon_, std::move(value), "PlayPauseIcon"); }
    QString AddRemoveLibraryNarratorText() const { return libraryNarrator_; }
    void SetAddRemoveLibraryNarratorText(QString value) {
        SetProperty(libraryNarrator_, std::move(value), "AddRemoveLibraryNarratorText");
    }
    QString PlayPauseNarratorText() const { return playPauseNarrator_; }
    void SetPlayPauseNarratorText(QString value) {
        SetProperty(playPauseNarrator_, std::move(value), "PlayPauseNarratorText");
    }
    QString EnableDisableNarratorText() const { return shuffleNarrator_; }
    void SetEnableDisableNarratorText(QString value) {
        SetProperty(shuffleNarrator_, std::move(value), "EnableDisableNarratorText");
    }
    QString ExpandCollapseNarratorText() const { return expandNarrator_; }
    void SetExpandCollapseNarratorText(QString value) {
        SetProperty(expandNarrator_, std::move(value), "ExpandCollapseNarratorText");
    }

    // For tests and diagnostics: whether the one-second progress timer exists.
    bool HasProgressTimer() const { return progressTimer_ != nullptr; }

signals:
    void showSpinnerChanged();
    void isSignedInChanged();
    void showNowPlayingChanged();
    void isPlayerOnlyChanged();
    void inErrorStateChanged();
    void currentlyPlayingTrackProgressPercentageChanged();
    void currentlyPlayingTrackChanged();
    void currentlyPlayingTrackAlbumChanged();
    void currentlyPlayingTrackArtistChanged();
    void currentlyPlayingTrackImageDecodeHeightChanged();
    void selectedPlaybackDeviceChanged();
    void categoriesChanged();
    void corvanaActionsInfoChanged();
    void isPlayingChanged();
    void isInLibraryChanged();
    void isShuffleEnabledChanged();
    void isPlayPauseButtonEnabledChanged();
    void enablePlaybackDeviceSelectionButtonChanged();
    void isPlaybackDevicesFlyoutOpenChanged();
    void showPreviousNextControlsChanged();
    void showSkipBackAheadControlsChanged();
    void showAddRemoveLibraryButtonChanged();
    void showShuffleButtonChanged();
    void isExpandedChanged();
    void isPinnedOnlyChanged();
    void showPinnedCorvanaLogoChanged();
    void opacityChanged();
    void isScrollBarEnabledChanged();
    void showExpandButtonChanged();
    void playbackDeviceSelectionButtonBrushChanged();
    void enableDisableButtonForegroundBrushChanged();
    void imageSourceChanged();
    void expandButtonGlyphChanged();
    void addRemoveLibraryIconChanged();
    void playPauseIconChanged();
    void addRemoveLibraryNarratorTextChanged();
    void playPauseNarratorTextChanged();
    void enableDisableNarratorTextChanged();
    void expandCollapseNarratorTextChanged();

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

    // The presentation rules, each derived from the state in one place.
    void UpdatePlayPausePresentation();
    void UpdateLibraryPresentation();
    void UpdateShufflePresentation();
    void UpdateShowPinnedCorvanaLogo();
    void UpdateActions();
    void UpdateDeviceButtonBrush();
    // Shows what plays without the feed, as player only or while signing in.
    void ShowPlaybackWithoutFeed(bool playerOnly);
    void SetStartupFlag(bool on);
    std::shared_ptr<CorvanaItemViewModel> FirstFeedItem() const;

    // Detached work: each holds a strong reference, contains its failures and reports them.
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
    // Also read where a feed load fails, which may be off the UI thread.
    std::atomic<bool> closing_ = false;
    // Bumped by every sign-in, sign-out and MarkClosing, so that a feed load started before one of them
    // does not apply its result after it.
    uint64_t signInGeneration_ = 0;

    bool showSpinner_ = true;
    bool isSignedIn_ = false;
    bool showNowPlaying_ = false;
    bool isPlayerOnly_ = false;
    bool inErrorState_ = false;
    double progress_ = 0;
    QString track_;
    QString album_;
    QString artist_;
    int decodeHeight_ = 70;
    const std::shared_ptr<ObservableVector> playbackDevices_ = ObservableVector::Create();
    std::shared_ptr<CorvanaPlaybackDeviceViewModel> selectedDevice_;
    std::shared_ptr<ObservableVector> categories_;
    velmora::CorvanaActionsInfo actions_;
    bool isPlaying_ = false;
    bool isInLibrary_ = false;
    bool isShuffleEnabled_ = false;
    bool isPlayPauseButtonEnabled_ = false;
    bool enableDeviceSelectionButton_ = false;
    bool isDevicesFlyoutOpen_ = false;
    bool showPreviousNext_ = true;
    bool showSkipBackAhead_ = false;
    bool showAddRemoveLibrary_ = false;
    bool showShuffle_ = true;
    bool isExpanded_ = true;
    bool isPinnedOnly_ = false;
    bool showPinnedLogo_ = false;
    double opacity_ = 1.0;
    bool isScrollBarEnabled_ = false;
    bool showExpandButton_ = true;
    std::shared_ptr<const QColor> deviceButtonBrush_;
    std::shared_ptr<const QColor> shuffleBrush_;
    std::shared_ptr<CoverImage> imageSource_;
    QString expandGlyph_;
    QString libraryIcon_;
    QString playPauseIcon_;
    QString libraryNarrator_;
    QString playPauseNarrator_;
    QString shuffleNarrator_;
    QString expandNarrator_;
};

}  // namespace velmora
