import QtQuick
import Velmora

// What is playing: cover, title, artist, progress and one row of controls. In pinned-only mode the
// player cannot reach the widget, so the controls give way to the small Corvana mark.
Item {
    id: block

    required property CorvanaWidgetNative page
    required property CorvanaWidgetViewModel viewModel
    readonly property CorvanaWidgetViewModel vm: viewModel
    readonly property bool interactive: !vm.IsPinnedOnly
    readonly property color inactive: CorvanaResourceDictionary.inactive

    function brush(colour) {
        return colour.valid ? colour : inactive
    }

    implicitHeight: cover.height + GameBarResourceDictionary.padding + progress.height
                    + (interactive ? GameBarResourceDictionary.spacing + controls.height : 0)

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
            right: logo.visible ? logo.left : expandButton.visible ? expandButton.left : parent.right
            rightMargin: logo.visible || expandButton.visible ? GameBarResourceDictionary.spacing : 0
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
        sourceSize { width: width; height: height }
        source: "qrc:/Velmora/Assets/corvana-mark.svg"
        Accessible.role: Accessible.Graphic
        Accessible.name: Converters.ResourceStringConverter("", "CorvanaLogo_NarratorText")
    }

    // The chevron sits in the corner of the block, beside the titles, where the web page has it.
    IconButton {
        id: expandButton
        objectName: "ExpandButton"
        anchors {
            top: cover.top
            topMargin: -GameBarResourceDictionary.spacingSmall
            right: parent.right
            rightMargin: -GameBarResourceDictionary.spacingSmall
        }
        visible: block.interactive && block.vm.ShowExpandButton
        glyph: block.vm.ExpandButtonGlyph
        narratorText: block.vm.ExpandCollapseNarratorText
        onClicked: block.vm.IsExpanded = !block.vm.IsExpanded
    }

    // The times beside the bar, in figures of one width so that they do not jitter.
    Item {
        id: progress
        anchors {
            left: parent.left
            right: parent.right
            top: cover.bottom
            topMargin: GameBarResourceDictionary.padding
        }
        height: bar.implicitHeight

        PlainLabel {
            id: elapsed
            objectName: "ElapsedTime"
            anchors { left: parent.left; verticalCenter: parent.verticalCenter }
            width: CommonStyles.controlSize
            font: GameBarTypography.caption
            color: GameBarResourceDictionary.textSecondary
            text: block.vm.ElapsedTimeText
            Accessible.ignored: true
        }
        ProgressTrack {
            id: bar
            objectName: "Progress"
            anchors {
                left: elapsed.right
                leftMargin: GameBarResourceDictionary.spacing
                right: duration.left
                rightMargin: GameBarResourceDictionary.spacing
                verticalCenter: parent.verticalCenter
            }
            narratorText: Converters.ResourceStringConverter("", "CorvanaProgress_NarratorText")
            enabled: block.interactive && block.vm.CorvanaActionsInfo.CanSeek && block.vm.DurationText.length > 0
            shownValue: block.vm.CurrentlyPlayingTrackProgressPercentage
            playing: block.vm.IsPlaying
            keyStep: 0.02
            Accessible.description: block.vm.ElapsedTimeText
            onChanging: (value) => block.vm.SeekTo(value, false)
            onCommitted: (value) => block.vm.SeekTo(value, true)
        }
        PlainLabel {
            id: duration
            objectName: "DurationTime"
            anchors { right: parent.right; verticalCenter: parent.verticalCenter }
            width: CommonStyles.controlSize
            horizontalAlignment: Text.AlignRight
            font: GameBarTypography.caption
            color: GameBarResourceDictionary.textSecondary
            text: block.vm.DurationText
            Accessible.ignored: true
        }
    }

    Item {
        id: controls
        visible: block.interactive
        anchors {
            left: parent.left
            right: parent.right
            top: progress.bottom
            topMargin: GameBarResourceDictionary.spacing
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
                iconColor: block.brush(block.vm.AddRemoveLibraryButtonBrush)
                narratorText: block.vm.AddRemoveLibraryNarratorText
                onClicked: block.vm.AddRemoveLibrary()
            }
            IconButton {
                objectName: "ShuffleButton"
                visible: block.vm.ShowShuffleButton
                enabled: block.vm.CorvanaActionsInfo.CanToggleShuffle
                glyph: "shuffle"
                iconColor: block.brush(block.vm.EnableDisableButtonForegroundBrush)
                toggle: true
                narratorText: block.vm.EnableDisableNarratorText
                onClicked: block.vm.ToggleShuffle()
            }
        }

        Row {
            anchors.centerIn: parent
            spacing: GameBarResourceDictionary.padding

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
                objectName: "RepeatButton"
                enabled: block.vm.IsRepeatButtonEnabled
                glyph: block.vm.RepeatIcon
                iconColor: block.brush(block.vm.RepeatButtonBrush)
                toggle: true
                narratorText: block.vm.RepeatNarratorText
                onClicked: block.vm.CycleRepeat()
            }
            IconButton {
                id: devicesButton
                objectName: "DevicePickerButton"
                enabled: block.vm.EnablePlaybackDeviceSelectionButton
                glyph: "devices"
                iconColor: block.brush(block.vm.PlaybackDeviceSelectionButtonBrush)
                toggle: true
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
        }
    }
}
