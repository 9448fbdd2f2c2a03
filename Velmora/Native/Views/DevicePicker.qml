pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Templates as T
import Velmora

// The flyout listing the devices playback can move to; open while the view model's
// IsPlaybackDevicesFlyoutOpen is true (and the widget shows what plays and the player can reach it), and closing
// it, by Escape, a press outside or a choice, writes false back.
T.Popup {
    id: flyout

    required property CorvanaWidgetViewModel viewModel
    required property Item opener
    required property real windowHeight
    // Whether the opener was pressed from the keyboard; the popup takes the focus before it shows.
    property bool openedFromKeyboard: false
    readonly property CorvanaWidgetViewModel vm: viewModel

    objectName: "DevicePicker"
    visible: vm.IsPlaybackDevicesFlyoutOpen && vm.ShowNowPlaying && !vm.IsPinnedOnly
    onOpened: vm.IsPlaybackDevicesFlyoutOpen = true
    onClosed: {
        listed = false
        vm.IsPlaybackDevicesFlyoutOpen = false
        // A closing popup hands the focus it had to the window's root item, where Tab starts over: the
        // player goes on from the button instead. Focus that a press outside gave to another control stays.
        const focused = opener.Window.activeFocusItem
        if (opener.visible && (!focused || focused === opener.Window.contentItem))
            opener.forceActiveFocus(Qt.PopupFocusReason)
    }
    // A press on the button that opened it toggles it; a press anywhere else closes it.
    closePolicy: T.Popup.CloseOnEscape | T.Popup.CloseOnPressOutsideParent
    // The page behind is dimmed as the web page's is, but not blocked: a press on it still closes the sheet
    // and reaches what it pressed.
    dim: true
    T.Overlay.modeless: Rectangle {
        color: GameBarResourceDictionary.scrim
        radius: GameBarResourceDictionary.cornerRadius
    }
    focus: true
    padding: GameBarResourceDictionary.spacing
    width: opener.Window.width - 2 * margin
    // From the list's full length, not its height, which the flyout's height limits.
    implicitHeight: topPadding + bottomPadding + title.implicitHeight + GameBarResourceDictionary.spacingSmall
                    + (list.count === 0 ? empty.implicitHeight : list.contentHeight)
                    + (volumeRow.visible ? GameBarResourceDictionary.spacingSmall + volumeRow.height : 0)
    readonly property real margin: GameBarResourceDictionary.spacing
    // A sheet along the window's bottom edge, as wide as the window less a margin each side, as the web
    // page's; as high as the window allows, the list scrolling what does not fit.
    function place() {
        const at = opener.mapToItem(null, 0, 0)
        height = Math.min(implicitHeight, windowHeight - 2 * margin)
        x = margin - at.x
        y = windowHeight - margin - height - at.y
    }
    // The list has its model only while the flyout shows: closed, a list of hundreds of devices builds no
    // entries, and an update of it costs the view nothing.
    property bool listed: false
    onAboutToShow: {
        listed = true
        list.forceLayout()
        place()
        list.currentIndex = Math.max(0, list.selectedIndex())
        // Opens at the playing device, without scrolling there in front of the player.
        list.positionViewAtIndex(list.currentIndex, ListView.Contain)
        // Opened from the keyboard, the ring shows where the arrow keys start.
        list.keyboardNavigated = openedFromKeyboard
        list.forceActiveFocus(Qt.PopupFocusReason)
    }
    onImplicitHeightChanged: if (visible) place()
    onWindowHeightChanged: if (visible) place()

    background: Rectangle {
        radius: GameBarResourceDictionary.cornerRadius
        color: GameBarResourceDictionary.raisedSurface
        border.width: GameBarResourceDictionary.hairline
        border.color: GameBarResourceDictionary.divider

        // A soft shadow of two layers, which every scene graph backend draws.
        Rectangle {
            z: -1
            anchors.fill: parent
            anchors.margins: -GameBarResourceDictionary.nearShadowSide
            anchors.topMargin: GameBarResourceDictionary.nearShadowTop
            anchors.bottomMargin: -GameBarResourceDictionary.nearShadowBottom
            radius: parent.radius + GameBarResourceDictionary.nearShadowSide
            color: GameBarResourceDictionary.nearShadow
        }
        Rectangle {
            z: -2
            anchors.fill: parent
            anchors.margins: -GameBarResourceDictionary.farShadowSide
            anchors.topMargin: GameBarResourceDictionary.farShadowTop
            anchors.bottomMargin: -GameBarResourceDictionary.farShadowBottom
            radius: parent.radius + GameBarResourceDictionary.farShadowSide
            color: GameBarResourceDictionary.farShadow
        }
    }

    // In the popup's own content item rather than a deferred contentItem of ours: the popup reaches the
    // list by its id.
    Column {
        width: parent.width
        spacing: GameBarResourceDictionary.spacingSmall
        Accessible.role: Accessible.List
        Accessible.name: Converters.ResourceStringConverter("", "CorvanaDevicePicker_Title")

        Item {
            id: title
            width: parent.width
            implicitHeight: close.height

            PlainLabel {
                anchors { left: parent.left; leftMargin: GameBarResourceDictionary.spacing; verticalCenter: parent.verticalCenter }
                font: GameBarTypography.bodyStrong
                text: Converters.ResourceStringConverter("", "CorvanaDevicePicker_Title")
            }
            IconButton {
                id: close
                objectName: "DevicePickerClose"
                anchors.right: parent.right
                glyph: "close"
                iconSize: CommonStyles.smallIconSize
                narratorText: Converters.ResourceStringConverter("", "CorvanaDevicePicker_CloseNarratorText")
                onClicked: flyout.close()
            }
        }

        PlainLabel {
            id: empty
            objectName: "NoDevices"
            visible: list.count === 0
            width: parent.width
            leftPadding: GameBarResourceDictionary.spacing
            bottomPadding: GameBarResourceDictionary.spacing
            color: GameBarResourceDictionary.textSecondary
            text: Converters.ResourceStringConverter("", "CorvanaDevicePicker_EmptyText")
        }

        ListView {
            id: list
            objectName: "DeviceList"
            width: parent.width
            // What the flyout's height leaves for the list once the title and the volume are placed.
            height: Math.max(0, Math.min(contentHeight, flyout.availableHeight - y
                                         - (volumeRow.visible ? GameBarResourceDictionary.spacingSmall + volumeRow.height : 0)))
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            keyNavigationEnabled: true
            model: flyout.listed ? flyout.vm.PlaybackDevices : null
            property bool keyboardNavigated: false
            // The volume under the list takes its share of the height after the flyout opened: the current
            // entry stays whole.
            onHeightChanged: if (flyout.visible) positionViewAtIndex(currentIndex, ListView.Contain)
            Keys.onPressed: (event) => {
                if (event.key === Qt.Key_Up || event.key === Qt.Key_Down)
                    keyboardNavigated = true
                event.accepted = false  // the list still moves
            }

            // From the model: an entry scrolled out of the flyout is not built.
            function selectedIndex() {
                return model ? model.indexOf(flyout.vm.SelectedPlaybackDevice) : -1
            }

            T.ScrollBar.vertical: T.ScrollBar {
                id: listBar
                policy: T.ScrollBar.AsNeeded
                padding: 0
                implicitWidth: GameBarResourceDictionary.spacingSmall
                contentItem: Rectangle {
                    implicitWidth: GameBarResourceDictionary.spacingSmall
                    visible: listBar.size < 1
                    radius: width / 2
                    color: listBar.pressed ? GameBarResourceDictionary.textDisabled : GameBarResourceDictionary.pressedFill
                }
            }

            delegate: DeviceEntry {
                required property int index
                width: ListView.view.width
                selected: modelData === flyout.vm.SelectedPlaybackDevice
                keyboardCurrent: list.keyboardNavigated
                focus: ListView.isCurrentItem
                onClicked: flyout.vm.OnPlaybackDeviceClicked(modelData)
            }
        }

        // The active device's volume, when it takes one.
        Item {
            id: volumeRow
            objectName: "VolumeRow"
            visible: flyout.vm.ShowVolume
            width: parent.width
            height: CommonStyles.controlSize

            Rectangle {
                anchors { left: parent.left; right: parent.right; top: parent.top }
                height: GameBarResourceDictionary.hairline
                color: GameBarResourceDictionary.divider
            }
            Icon {
                id: volumeIcon
                anchors { left: parent.left; leftMargin: GameBarResourceDictionary.spacing; verticalCenter: parent.verticalCenter }
                glyph: "volume"
                size: CommonStyles.iconSize
                color: CorvanaResourceDictionary.inactive
            }
            ProgressTrack {
                objectName: "VolumeSlider"
                anchors {
                    left: volumeIcon.right
                    leftMargin: GameBarResourceDictionary.padding
                    right: parent.right
                    rightMargin: GameBarResourceDictionary.spacing
                    verticalCenter: parent.verticalCenter
                }
                narratorText: Converters.ResourceStringConverter("", "CorvanaVolume_NarratorText")
                enabled: flyout.vm.ShowVolume
                shownValue: flyout.vm.Volume
                Accessible.description: Math.round(flyout.vm.Volume * 100) + "%"
                onChanging: (value) => flyout.vm.ChangeVolume(value, false)
                onCommitted: (value) => flyout.vm.ChangeVolume(value, true)
            }
        }
    }
}
