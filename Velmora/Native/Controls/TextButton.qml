import QtQuick
import QtQuick.Templates as T
import Velmora

// A button with a text label: the primary one is a filled accent pill, the others are quiet links.
T.AbstractButton {
    id: control

    required property string label
    required property string narratorText
    property bool primary: false
    property string glyph

    implicitHeight: CommonStyles.primaryButtonHeight
    implicitWidth: Math.max(implicitHeight * 3, row.implicitWidth + 2 * 24)
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    opacity: enabled ? 1 : GameBarResourceDictionary.disabledOpacity

    Accessible.role: Accessible.Button
    Accessible.name: narratorText
    Accessible.onPressAction: control.clicked()
    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    background: Rectangle {
        radius: height / 2
        color: control.primary ? (control.down ? Qt.darker(CorvanaResourceDictionary.accent, 1.15)
                                 : control.hovered ? Qt.lighter(CorvanaResourceDictionary.accent, 1.08)
                                 : CorvanaResourceDictionary.accent)
             : control.down ? GameBarResourceDictionary.pressedFill
             : control.hovered ? GameBarResourceDictionary.hoverFill : "transparent"

        FocusRing {
            visible: control.visualFocus
            aroundAccent: control.primary
        }
    }

    // A child of its own rather than the deferred contentItem: the width follows it by its id.
    Row {
        id: row
        anchors.centerIn: parent
        spacing: GameBarResourceDictionary.spacing

        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: control.label
            textFormat: Text.PlainText
            font: control.primary ? GameBarTypography.bodyStrong : GameBarTypography.body
            color: control.primary ? CorvanaResourceDictionary.textOnAccent
                 : control.hovered ? GameBarResourceDictionary.textPrimary
                 : GameBarResourceDictionary.textSecondary
            Accessible.ignored: true
        }
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            visible: control.glyph.length > 0
            glyph: control.glyph
            size: CommonStyles.smallIconSize
            color: control.hovered ? GameBarResourceDictionary.textPrimary : GameBarResourceDictionary.textSecondary
        }
    }
}
