import QtQuick
import QtQuick.Templates as T
import Velmora

// A round button showing one icon. Its narrator text is what screen readers read; it is reached with Tab
// (unless disabled, when it stays visible at half strength) and pressed with the pointer, Space or Enter.
T.AbstractButton {
    id: control

    required property string narratorText
    property string glyph
    property color iconColor: CorvanaResourceDictionary.inactive
    property int iconSize: CommonStyles.iconSize
    // The one filled button of a row: play/pause.
    property bool filled: false
    // A toggle in its "on" colour shows a dot under its icon too, so that "on" does not rest on colour
    // alone.
    property bool toggle: false
    readonly property bool isOn: toggle && Qt.colorEqual(iconColor, CorvanaResourceDictionary.accent)

    implicitWidth: CommonStyles.controlSize
    implicitHeight: CommonStyles.controlSize
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    opacity: enabled ? 1 : GameBarResourceDictionary.disabledOpacity

    Accessible.role: Accessible.Button
    Accessible.name: narratorText
    Accessible.description: ""
    // Without this the screen reader's "press" does nothing in Qt 6.4.
    Accessible.onPressAction: control.clicked()
    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    background: Rectangle {
        radius: width / 2
        color: control.filled ? (control.down ? GameBarResourceDictionary.filledPressed : GameBarResourceDictionary.textPrimary)
             : control.down ? GameBarResourceDictionary.pressedFill
             : control.hovered ? GameBarResourceDictionary.hoverFill : "transparent"
        scale: control.filled && control.hovered && !control.down ? 1.06 : 1

        FocusRing {
            visible: control.visualFocus
        }
    }

    contentItem: Item {
        Icon {
            anchors.centerIn: parent
            glyph: control.glyph
            size: control.iconSize
            // Hover brightens an icon in its "off" colour; an "on" icon keeps its accent.
            color: control.filled ? GameBarResourceDictionary.surface
                 : control.hovered && control.enabled
                   && Qt.colorEqual(control.iconColor, CorvanaResourceDictionary.inactive)
                 ? GameBarResourceDictionary.textPrimary : control.iconColor
        }
        Rectangle {
            objectName: "OnDot"
            visible: control.isOn
            anchors { horizontalCenter: parent.horizontalCenter; bottom: parent.bottom; bottomMargin: GameBarResourceDictionary.hairline }
            width: GameBarResourceDictionary.spacingSmall
            height: width
            radius: width / 2
            color: control.iconColor
        }
    }
}
