import QtQuick
import QtQuick.Templates as T
import Velmora

// The flyout listing the devices playback can move to; open while the view model's
// IsPlaybackDevicesFlyoutOpen is true (and the widget shows what plays and the player can reach it), and closing
// it, by Escape, a press outside or a choice, writes false back.
T.Popup {
    id: flyout

    required property QtObject viewModel
    required property Item opener
    required property real windowHeight
    // Whether the opener was pressed from the keyboard; the popup takes the focus before it shows.
    property bool openedFromKeyboard: false
    readonly property QtObject vm: viewModel

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
    focus: true
    padding: GameBarResourceDictionary.spacing
    width: CommonStyles.flyoutWidth
    // From the list's full length, not its height, which the flyout's height limits.
    implicitHeight: topPadding + bottomPadding + title.implicitHeight + GameBarResourceDictionary.spacingSmall
                    + (list.count === 0 ? empty.implicitHeight : list.contentHeight)
    x: opener.width - width

    readonly property real margin: GameBarResourceDictionary.spacing
    // Below the button when the window has room there (expanded), else from the top of the window, the
    // list scrolling what does not fit.
    function place() {
        const top = opener.mapToItem(null, 0, 0).y
        const below = windowHeight - (top + opener.height) - margin
        if (implicitHeight <= below) {
            y = opener.height + GameBarResourceDictionary.spacingSmall
            height = implicitHeight
        } else {
            y = margin - top
            height = Math.min(implicitHeight, windowHeight - 2 * margin)
        }
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

    contentItem: Column {
        spacing: GameBarResourceDictionary.spacingSmall
        Accessible.role: Accessible.List
        Accessible.name: Converters.ResourceStringConverter("", "CorvanaDevicePicker_Title")

        PlainLabel {
            id: title
            width: parent.width
            leftPadding: GameBarResourceDictionary.spacing
            topPadding: GameBarResourceDictionary.spacingSmall
            bottomPadding: GameBarResourceDictionary.spacingSmall
            font: GameBarTypography.captionStrong
            color: GameBarResourceDictionary.textSecondary
            text: Converters.ResourceStringConverter("", "CorvanaDevicePicker_Title")
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
            // What the flyout's height leaves for the list once the title is placed.
            height: Math.max(0, Math.min(contentHeight, flyout.availableHeight - y))
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            keyNavigationEnabled: true
            model: flyout.listed ? flyout.vm.PlaybackDevices : null
            property bool keyboardNavigated: false
            Keys.onPressed: (event) => {
                if (event.key === Qt.Key_Up || event.key === Qt.Key_Down)
                    keyboardNavigated = true
                event.accepted = false  // the list still moves
            }

            // From the model: an entry scrolled out of the flyout is not built.
            function selectedIndex() {
                return model ? model.indexOf(flyout.vm.SelectedPlaybackDevice) : -1
            }

            delegate: DeviceEntry {
                required property int index
                width: ListView.view.width
                selected: modelData === flyout.vm.SelectedPlaybackDevice
                keyboardCurrent: ListView.view.keyboardNavigated
                focus: ListView.isCurrentItem
                onClicked: flyout.vm.OnPlaybackDeviceClicked(modelData)
            }
        }
    }
}
