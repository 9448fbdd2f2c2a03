import QtQuick
import Velmora

// What is playing: cover, title, artist, progress and one row of controls. In pinned-only mode the
// player cannot reach the widget, so the controls give way to the small Corvana mark.
Item {
    id: block

    required property QtObject page
    required property QtObject viewModel
    readonly property QtObject vm: viewModel
    readonly property bool interactive: !vm.IsPinnedOnly
    readonly property color inactive: CorvanaResourceDictionary.inactive

    function brush(colour) {
        return colour.valid ? colour : inactive
    }

    implicitHeight: cover.height + GameBarResourceDictionary.spacingLarge + progress.height
                    + (interactive ? GameBarResourceDictionary.spacingLarge + controls.height : 0)

    Cover {
        id: cover
        objectName: "NowPlayingCover"
        width: CorvanaResourceDictionary.nowPlayingCoverSize
        height: width
        fade: true
        source: block.vm.ImageSource ? block.vm.ImageSource.UriSource : ""
        decodeHeight: block.vm.ImageSource ? block.vm.ImageSource.DecodePixelHeight : 0
        onHeightChanged: block.page.OnCoverSizeChanged(height)
        Component.onCompleted: block.page.OnCoverSizeChanged(height)
    }

    Column {
        id: titles
        anchors {
            left: cover.right
            leftMargin: GameBarResourceDictionary.padding
            right: logo.visible ? logo.left : parent.right
            rightMargin: logo.visible ? GameBarResourceDictionary.spacing : 0
            verticalCenter: cover.verticalCenter
        }
        spacing: GameBarResourceDictionary.spacingSmall
        readonly property bool hasTrack: block.vm.CurrentlyPlayingTrack.length > 0

        PlainLabel {
            objectName: "TrackTitle"
            width: parent.width
            font: GameBarTypography.title
            text: titles.hasTrack ? block.vm.CurrentlyPlayingTrack
                                  : Converters.ResourceStringConverter("", "CorvanaNothingPlaying_Text")
            color: titles.hasTrack ? GameBarResourceDictionary.textPrimary : GameBarResourceDictionary.textSecondary
        }
        PlainLabel {
            objectName: "TrackArtist"
            width: parent.width
            font: GameBarTypography.body
            color: GameBarResourceDictionary.textSecondary
            visible: text.length > 0
            text: titles.hasTrack ? block.vm.CurrentlyPlayingTrackArtist
                : block.interactive ? Converters.ResourceStringConverter("", "CorvanaNothingPlaying_SubText") : ""
        }
    }

    Image {
        id: logo
        objectName: "PinnedCorvanaLogo"
        anchors { top: cover.top; right: parent.right }
        visible: block.vm.ShowPinnedCorvanaLogo
        width: CorvanaResourceDictionary.pinnedMarkSize
        height: CorvanaResourceDictionary.pinnedMarkSize
        sourceSize: Qt.size(width, height)
        source: "qrc:/Velmora/Assets/corvana-mark.svg"
        Accessible.role: Accessible.Graphic
        Accessible.name: Converters.ResourceStringConverter("", "CorvanaLogo_NarratorText")
    }

    ProgressTrack {
        id: progress
        objectName: "Progress"
        anchors {
            left: parent.left
            right: parent.right
            top: cover.bottom
            topMargin: GameBarResourceDictionary.spacingLarge
        }
        value: block.vm.CurrentlyPlayingTrackProgressPercentage
        playing: block.vm.IsPlaying
    }

    Item {
        id: controls
        visible: block.interactive
        anchors {
            left: parent.left
            right: parent.right
            top: progress.bottom
            topMargin: GameBarResourceDictionary.spacingLarge
        }
        height: CommonStyles.playPauseSize

        // The side groups keep a fixed width, so the transport buttons stay centred whatever shows.
        Row {
            anchors { left: parent.left; verticalCenter: parent.verticalCenter }
            spacing: GameBarResourceDictionary.spacingSmall

            IconButton {
                objectName: "LibraryButton"
                visible: block.vm.ShowAddRemoveLibraryButton
                glyph: block.vm.AddRemoveLibraryIcon
                iconColor: block.vm.IsInLibrary ? CorvanaResourceDictionary.accent : block.inactive
                narratorText: block.vm.AddRemoveLibraryNarratorText
                onClicked: block.vm.AddRemoveLibrary()
            }
            IconButton {
                objectName: "ShuffleButton"
                visible: block.vm.ShowShuffleButton
                enabled: block.vm.CorvanaActionsInfo.CanToggleShuffle
                glyph: "shuffle"
                iconColor: block.brush(block.vm.EnableDisableButtonForegroundBrush)
                narratorText: block.vm.EnableDisableNarratorText
                onClicked: block.vm.ToggleShuffle()
            }
        }

        Row {
            anchors.centerIn: parent
            spacing: GameBarResourceDictionary.spacing

            IconButton {
                objectName: "PreviousButton"
                visible: block.vm.ShowPreviousNextControls
                enabled: block.vm.CorvanaActionsInfo.CanSkipPrevious
                anchors.verticalCenter: parent.verticalCenter
                glyph: "previous"
                narratorText: Converters.ResourceStringConverter("", "CorvanaPrevious_ButtonNarratorText")
                onClicked: block.vm.Previous()
            }
            IconButton {
                objectName: "SkipBackButton"
                visible: block.vm.ShowSkipBackAheadControls
                enabled: block.vm.CorvanaActionsInfo.CanSeek
                anchors.verticalCenter: parent.verticalCenter
                glyph: "skip-back-15"
                iconSize: CommonStyles.largeIconSize
                narratorText: Converters.ResourceStringConverter("", "CorvanaSkipBack15Seconds_ButtonNarratorText")
                onClicked: block.vm.SkipBack()
            }
            IconButton {
                objectName: "PlayPauseButton"
                width: CommonStyles.playPauseSize
                height: CommonStyles.playPauseSize
                filled: true
                enabled: block.vm.IsPlayPauseButtonEnabled
                glyph: block.vm.PlayPauseIcon
                narratorText: block.vm.PlayPauseNarratorText
                onClicked: block.vm.PlayPause()
            }
            IconButton {
                objectName: "SkipAheadButton"
                visible: block.vm.ShowSkipBackAheadControls
                enabled: block.vm.CorvanaActionsInfo.CanSeek
                anchors.verticalCenter: parent.verticalCenter
                glyph: "skip-forward-15"
                iconSize: CommonStyles.largeIconSize
                narratorText: Converters.ResourceStringConverter("", "CorvanaSkipForward15Seconds_ButtonNarratorText")
                onClicked: block.vm.SkipAhead()
            }
            IconButton {
                objectName: "NextButton"
                visible: block.vm.ShowPreviousNextControls
                enabled: block.vm.CorvanaActionsInfo.CanSkipNext
                anchors.verticalCenter: parent.verticalCenter
                glyph: "next"
                narratorText: Converters.ResourceStringConverter("", "CorvanaNext_ButtonNarratorText")
                onClicked: block.vm.Next()
            }
        }

        Row {
            anchors { right: parent.right; verticalCenter: parent.verticalCenter }
            spacing: GameBarResourceDictionary.spacingSmall

            IconButton {
                id: devicesButton
                objectName: "DevicePickerButton"
                enabled: block.vm.EnablePlaybackDeviceSelectionButton
                glyph: "devices"
                iconColor: block.brush(block.vm.PlaybackDeviceSelectionButtonBrush)
                narratorText: Converters.ResourceStringConverter("", "CorvanaDevicePicker_ButtonNarratorText")
                onClicked: {
                    picker.openedFromKeyboard = visualFocus
                    block.vm.IsPlaybackDevicesFlyoutOpen = !block.vm.IsPlaybackDevicesFlyoutOpen
                }

                DevicePicker {
                    id: picker
                    viewModel: block.vm
                    // Below the button when the window has room there (expanded), else over the block.
                    windowHeight: block.Window.height
                    opener: devicesButton
                }
            }
            IconButton {
                objectName: "ExpandButton"
                visible: block.vm.ShowExpandButton
                glyph: block.vm.ExpandButtonGlyph
                narratorText: block.vm.ExpandCollapseNarratorText
                onClicked: block.vm.IsExpanded = !block.vm.IsExpanded
            }
        }
    }
}
