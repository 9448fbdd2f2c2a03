import QtQuick
import Velmora

// One of our icons, by name or by the private-use code point the view model gives, in one colour. The
// code points are the view model's values; this is the only place that knows which icon each one means.
Image {
    id: icon

    // A code point from the view model (PlayPauseIcon, AddRemoveLibraryIcon, ExpandButtonGlyph) or an
    // icon's name ("next", "devices").
    property string glyph
    property color color: CorvanaResourceDictionary.inactive
    property int size: CommonStyles.iconSize

    readonly property var names: ({
        "\uF131": "pause",
        "\uF132": "play",
        "\uF321": "heart-filled",
        "\uF31F": "heart",
        "\uF263": "collapse",
        "\uF25F": "expand"
    })
    readonly property string name: names[glyph] || glyph

    // AARRGGBB, as the icon provider takes it.
    function argb(c) {
        const hex = v => ("0" + Math.round(v * 255).toString(16)).slice(-2)
        return hex(c.a) + hex(c.r) + hex(c.g) + hex(c.b)
    }

    width: size
    height: size
    sourceSize { width: size; height: size }
    source: name.length > 0 ? "image://icon/" + name + "/" + argb(color) : ""
    fillMode: Image.PreserveAspectFit
    smooth: true
    Accessible.ignored: true
}
