import QtQuick
import QtQuick.Templates as T
import Velmora

// A horizontal bar from 0 to 1 filled in the accent colour, which the player clicks or drags, or moves
// with the arrow keys once it has the focus (Tab), when it is enabled: the progress bar and the volume.
// While the player moves it, it shows the player's value whatever comes in meanwhile; each change goes to
// changing(), and the value settled on (the button let go, the key released) to committed().
//
// Played progress moves once a second: a step of a few pixels or more (a short track) glides over that
// second instead of jumping, smaller steps are drawn at once, so a long track costs no frames between its
// seconds; a jump (a new track, a seek) shows at once.
T.Slider {
    id: bar

    required property string narratorText
    // The value to show while the player does not move it.
    property real shownValue: 0
    property bool playing: false
    // Steps of the arrow keys, as a fraction.
    property real keyStep: 0.05

    signal changing(real value)
    signal committed(real value)

    from: 0
    to: 1
    stepSize: keyStep
    live: true
    implicitHeight: GameBarResourceDictionary.spacingLarge
    implicitWidth: CommonStyles.sliderDefaultWidth
    focusPolicy: enabled ? Qt.StrongFocus : Qt.NoFocus
    hoverEnabled: true
    opacity: enabled ? 1 : GameBarResourceDictionary.disabledOpacity

    Accessible.role: Accessible.Slider
    Accessible.name: narratorText

    Binding on value {
        when: !bar.pressed && !bar.keyHeld
        value: bar.shownValue
        restoreMode: Binding.RestoreNone
    }

    // A held key repeats: the value is settled when it is let go.
    property bool keyHeld: false
    Keys.onPressed: (event) => {
        keyHeld = event.isAutoRepeat
        event.accepted = false
    }
    Keys.onReleased: (event) => {
        if (!event.isAutoRepeat && keyHeld) {
            keyHeld = false
            committed(value)
        }
        event.accepted = false
    }
    onMoved: pressed || keyHeld ? changing(value) : committed(value)
    onPressedChanged: if (!pressed) committed(value)

    // What the fill shows: the value, or on its way there.
    property real shown: 0
    onValueChanged: {
        const pixels = (value - shown) * availableWidth
        smooth.enabled = playing && !pressed && pixels >= 3 && pixels < 32
        shown = value
    }
    Component.onCompleted: shown = value
    Behavior on shown {
        id: smooth
        enabled: false
        NumberAnimation { duration: 1000; easing.type: Easing.Linear }
    }

    background: Item {
        // No ids in here: the background is built at once only without them.
        Rectangle {
            anchors { left: parent.left; right: parent.right; verticalCenter: parent.verticalCenter }
            height: CommonStyles.progressHeight
            radius: height / 2
            color: GameBarResourceDictionary.pressedFill
        }
        Rectangle {
            anchors { left: parent.left; verticalCenter: parent.verticalCenter }
            height: CommonStyles.progressHeight
            width: Math.max(height, parent.width * Math.min(1, Math.max(0, bar.shown)))
            visible: bar.shown > 0
            radius: height / 2
            color: CorvanaResourceDictionary.accent
        }
        FocusRing {
            radius: height / 2
            visible: bar.visualFocus
        }
    }

    handle: Rectangle {
        x: bar.leftPadding + bar.shown * bar.availableWidth - width / 2
        y: bar.topPadding + (bar.availableHeight - height) / 2
        width: GameBarResourceDictionary.padding
        height: width
        radius: width / 2
        color: GameBarResourceDictionary.textPrimary
        visible: bar.enabled && (bar.hovered || bar.pressed || bar.visualFocus)
    }
}
