import QtQuick
import QtQuick.Templates as T
import Velmora

// One device of the picker: the icon of its kind, its name (elided, however long), and for the device
// playing now the accent colour and a second line saying where it plays.
T.AbstractButton {
    id: entry

    required property CorvanaPlaybackDeviceViewModel modelData
    property bool selected: false
    // The player moves through the list with the arrow keys: the current entry shows the focus ring.
    property bool keyboardCurrent: false
    readonly property string playingText: !selected ? ""
        : Converters.ResourceStringConverter("", modelData && modelData.IsSelf ? "CorvanaDevicePicker_SelectedText"
                                                                                 : "CorvanaDevicePicker_PlayingText")

    implicitHeight: CommonStyles.listEntryHeight + (selected ? 8 : 0)
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true

    Accessible.role: Accessible.Button
    Accessible.name: modelData ? modelData.Name : ""
    Accessible.description: playingText
    Accessible.onPressAction: entry.clicked()
    Keys.onReturnPressed: entry.clicked()
    Keys.onEnterPressed: entry.clicked()

    background: Rectangle {
        radius: GameBarResourceDictionary.entryRadius
        color: entry.down ? GameBarResourceDictionary.pressedFill
             : entry.hovered ? GameBarResourceDictionary.hoverFill : "transparent"

        FocusRing {
            anchors.margins: 0
            visible: entry.visualFocus || (entry.activeFocus && entry.keyboardCurrent)
        }
    }

    // A child of its own rather than the deferred contentItem: the name lines are placed by the icon's id.
    Item {
        anchors.fill: parent
        Icon {
            id: glyph
            anchors { left: parent.left; leftMargin: GameBarResourceDictionary.spacing; verticalCenter: parent.verticalCenter }
            readonly property var glyphs: ({ "phone": "phone", "speaker": "speaker", "computer": "device" })
            glyph: glyphs[entry.modelData ? entry.modelData.DeviceKind : "computer"] || "device"
            size: CommonStyles.iconSize
            color: entry.selected ? CorvanaResourceDictionary.accent : CorvanaResourceDictionary.inactive
        }
        Column {
            anchors {
                left: glyph.right
                leftMargin: GameBarResourceDictionary.padding
                right: parent.right
                rightMargin: GameBarResourceDictionary.spacing
                verticalCenter: parent.verticalCenter
            }
            spacing: GameBarResourceDictionary.lineGap

            PlainLabel {
                objectName: "DeviceName"
                width: parent.width
                text: entry.modelData ? entry.modelData.Name : ""
                font: entry.selected ? GameBarTypography.bodyStrong : GameBarTypography.body
                color: entry.selected ? CorvanaResourceDictionary.accent : GameBarResourceDictionary.textPrimary
            }
            PlainLabel {
                objectName: "DevicePlaying"
                visible: entry.selected
                width: parent.width
                text: entry.playingText
                font: GameBarTypography.caption
                color: CorvanaResourceDictionary.accent
            }
        }
    }
}
