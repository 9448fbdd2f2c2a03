import QtQuick
import QtQuick.Templates as T
import Velmora

// The flyout listing the devices playback can move to; open while the view model's
// IsPlaybackDevicesFlyoutOpen is true (and the player is signed in and can reach the widget), and closing
// it, by Escape, a press outside or a choice, writes false back.
T.Popup {
    id: flyout

    required property QtObject viewModel
    required property Item opener
    required property real windowHeight
    readonly property QtObject vm: viewModel

    objectName: "DevicePicker"
    visible: vm.IsPlaybackDevicesFlyoutOpen && vm.IsSignedIn && !vm.IsPinnedOnly
    onOpened: vm.IsPlaybackDevicesFlyoutOpen = true
    onClosed: {
        vm.IsPlaybackDevicesFlyoutOpen = false
        if (list.activeFocus || activeFocus)
            opener.forceActiveFocus(Qt.PopupFocusReason)
    }
    // A press on the button that opened it toggles it; a press anywhere else closes it.
    closePolicy: T.Popup.CloseOnEscape | T.Popup.CloseOnPressOutsideParent
    focus: true
    padding: GameBarResourceDictionary.spacing
    width: CommonStyles.flyoutWidth
    x: opener.width - width

    readonly property real margin: GameBarResourceDictionary.spacing
    // How tall the list may be before it scrolls.
    property real listLimit: Number.MAX_VALUE
    onAboutToShow: {
        listLimit = Number.MAX_VALUE
        const top = opener.mapToItem(null, 0, 0).y
        const below = windowHeight - (top + opener.height) - margin
        if (implicitHeight <= below) {
            y = opener.height + GameBarResourceDictionary.spacingSmall
        } else {
            // Not enough room below: from the top of the window, scrolling what does not fit.
            y = margin - top
            const room = windowHeight - 2 * margin
            if (implicitHeight > room)
                listLimit = Math.max(CommonStyles.listEntryHeight, list.contentHeight - (implicitHeight - room))
        }
        list.currentIndex = Math.max(0, list.selectedIndex())
        list.forceActiveFocus(Qt.PopupFocusReason)
    }

    background: Rectangle {
        radius: GameBarResourceDictionary.cornerRadius
        color: GameBarResourceDictionary.raisedSurface
        border.width: 1
        border.color: GameBarResourceDictionary.divider
    }

    contentItem: Column {
        spacing: GameBarResourceDictionary.spacingSmall
        Accessible.role: Accessible.List
        Accessible.name: Converters.ResourceStringConverter("", "CorvanaDevicePicker_Title")

        PlainLabel {
            width: parent.width
            leftPadding: GameBarResourceDictionary.spacing
            topPadding: GameBarResourceDictionary.spacingSmall
            bottomPadding: GameBarResourceDictionary.spacingSmall
            font: GameBarTypography.captionStrong
            color: GameBarResourceDictionary.textSecondary
            text: Converters.ResourceStringConverter("", "CorvanaDevicePicker_Title")
        }

        PlainLabel {
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
            height: Math.min(contentHeight, flyout.listLimit)
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            keyNavigationEnabled: true
            model: flyout.vm.PlaybackDevices

            function selectedIndex() {
                for (let i = 0; i < count; ++i) {
                    if (itemAtIndex(i) && itemAtIndex(i).selected)
                        return i
                }
                return -1
            }

            delegate: DeviceEntry {
                required property int index
                width: ListView.view.width
                selected: modelData === flyout.vm.SelectedPlaybackDevice
                focus: ListView.isCurrentItem
                onClicked: flyout.vm.OnPlaybackDeviceClicked(modelData)
            }
        }
    }
}
