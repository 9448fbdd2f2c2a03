#pragma once

#include <QtQml/qqmlregistration.h>
#include <QColor>
#include <QString>
#include <chrono>
#include <memory>
#include <vector>

#include "Platform/GameBar/IGameBarWidget.h"
#include "Platform/Storage/LocalSettings.h"
#include "Velmora/Common/HomeFeedFetch.h"
#include "Velmora/Common/IAccessTokenProvider.h"
#include "Velmora/Native/Framework/ViewModelProperty.h"
#include "Velmora/Native/ViewModels/CorvanaActionsInfo.h"
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
    QML_ELEMENT
    QML_UNCREATABLE("The page makes its view model.")
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
    const std::shared_ptr<ObservableVector>& PlaybackDevices() const;
    ObservableVector* PlaybackDevicesModel() const;
    void SetIsExpanded(bool value);
    void SetIsPinnedOnly(bool value);

    // For tests and diagnostics: whether the one-second progress timer exists.
    bool HasProgressTimer() const;

private:
    CorvanaWidgetViewModel(std::shared_ptr<utils::DesktopAPIController> controller,
                           std::shared_ptr<IAccessTokenProvider> tokens, Services services);

    // What the page shows lives in the properties; everything else, and the steps that apply it, in the
    // .cpp.
    struct State;
    const std::unique_ptr<State> state_;
};

}  // namespace velmora
