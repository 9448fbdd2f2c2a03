import QtQuick
import Velmora

// The keyboard focus mark: a ring just outside its parent, following its shape. In the accent colour;
// around a control filled with the accent, in the text colour and a gap away, so that it shows.
Rectangle {
    property bool aroundAccent: false
    readonly property int gap: aroundAccent ? GameBarResourceDictionary.focusRingWidth : 0

    objectName: "FocusRing"
    anchors.fill: parent
    anchors.margins: -(GameBarResourceDictionary.focusRingWidth + gap)
    // Round around a rounded rectangle, square around anything else.
    readonly property real parentRadius: (parent as Rectangle)?.radius ?? 0
    radius: parentRadius > 0 ? parentRadius + GameBarResourceDictionary.focusRingWidth + gap : 0
    color: "transparent"
    border.width: GameBarResourceDictionary.focusRingWidth
    border.color: aroundAccent ? GameBarResourceDictionary.textPrimary : CorvanaResourceDictionary.accent
    Accessible.ignored: true
}
