import QtQuick
import QtQuick.Templates as T
import Velmora

// One device of the picker: its name (elided, however long), and for the device playing now an accent
// mark and a second line saying so.
T.AbstractButton {
    id: entry

    required property QtObject modelData
    property bool selected: false

    implicitHeight: CommonStyles.listEntryHeight + (selected ? 8 : 0)
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true

    Accessible.role: Accessible.Button
    Accessible.name: modelData ? modelData.Name : ""
    Accessible.description: selected ? Converters.ResourceStringConverter("", "CorvanaDevicePicker_SelectedText") : ""
    Accessible.onPressAction: entry.clicked()
    Keys.onReturnPressed: entry.clicked()
    Keys.onEnterPressed: entry.clicked()

    background: Rectangle {
        radius: GameBarResourceDictionary.cornerRadius - 2
        color: entry.down ? GameBarResourceDictionary.pressedFill
             : entry.hovered ? GameBarResourceDictionary.hoverFill : "transparent"

        FocusRing {
            anchors.margins: 0
            visible: entry.visualFocus
        }
    }

    contentItem: Item {
        Icon {
            id: glyph
            anchors { left: parent.left; leftMargin: GameBarResourceDictionary.spacing; verticalCenter: parent.verticalCenter }
            glyph: entry.selected ? "speaker" : "device"
            size: CommonStyles.iconSize
            color: entry.selected ? CorvanaResourceDictionary.accent : GameBarResourceDictionary.textSecondary
        }
        Column {
            anchors {
                left: glyph.right
                leftMargin: GameBarResourceDictionary.padding
                right: parent.right
                rightMargin: GameBarResourceDictionary.spacing
                verticalCenter: parent.verticalCenter
            }
            spacing: 2

            PlainLabel {
                objectName: "DeviceName"
                width: parent.width
                text: entry.modelData ? entry.modelData.Name : ""
                font: entry.selected ? GameBarTypography.bodyStrong : GameBarTypography.body
                color: entry.selected ? CorvanaResourceDictionary.accent : GameBarResourceDictionary.textPrimary
            }
            PlainLabel {
                visible: entry.selected
                width: parent.width
                text: Converters.ResourceStringConverter("", "CorvanaDevicePicker_SelectedText")
                font: GameBarTypography.caption
                color: GameBarResourceDictionary.textSecondary
            }
        }
    }
}
