import QtQuick
import Velmora

// How far the track has played: a thin bar filled in the accent colour. The view model moves it once a
// second while playing; a step of a few pixels or more (a short track) glides over that second instead of
// jumping, while smaller steps are drawn at once, so a long track costs no frames between its seconds. A
// jump (a new track, a seek) is shown at once.
Item {
    id: track

    // 0 to 1.
    property real value: 0
    property bool playing: false

    implicitHeight: CommonStyles.progressHeight
    Accessible.role: Accessible.ProgressBar
    Accessible.name: Converters.ResourceStringConverter("", "CorvanaProgress_NarratorText")

    // What the fill shows: the value, or on its way there.
    property real shown: 0
    onValueChanged: {
        const pixels = (value - shown) * width
        smooth.enabled = playing && pixels >= 3 && pixels < 32
        shown = value
    }
    Component.onCompleted: shown = value

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: GameBarResourceDictionary.progressTrack
    }
    Rectangle {
        height: parent.height
        width: Math.max(height, parent.width * Math.min(1, Math.max(0, track.shown)))
        visible: track.shown > 0
        radius: height / 2
        color: CorvanaResourceDictionary.accent
    }

    Behavior on shown {
        id: smooth
        enabled: false
        NumberAnimation { duration: 1000; easing.type: Easing.Linear }
    }
}
