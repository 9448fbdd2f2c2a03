import QtQuick
import Velmora

// The keyboard focus mark: a ring in the accent colour just outside its parent, following its shape.
Rectangle {
    anchors.fill: parent
    anchors.margins: -GameBarResourceDictionary.focusRingWidth
    radius: parent.radius ? parent.radius + GameBarResourceDictionary.focusRingWidth : 0
    color: "transparent"
    border.width: GameBarResourceDictionary.focusRingWidth
    border.color: CorvanaResourceDictionary.accent
    Accessible.ignored: true
}
