import QtQuick
import Velmora

// Shown only while the widget is starting: an accent arc that turns. It stops turning when hidden.
Item {
    id: spinner

    implicitWidth: CommonStyles.spinnerSize
    implicitHeight: CommonStyles.spinnerSize
    Accessible.role: Accessible.Animation
    Accessible.name: Converters.ResourceStringConverter("", "CorvanaSpinner_NarratorText")

    Icon {
        id: arc
        anchors.centerIn: parent
        glyph: "spinner"
        size: Math.min(spinner.width, spinner.height)
        color: CorvanaResourceDictionary.accent

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: spinner.visible
        }
    }
}
