pragma Singleton
import QtQuick

// Corvana's part of the look: its green for "on" states, the cover placeholder, the sizes of covers and
// tiles, and the two feed item styles, looked up by the names a feed item gives as its ImageStyle.
QtObject {
    // The view model's active brush: shuffle on, another device playing, the progress fill.
    readonly property color accent: "#1DB954"
    // The view model's inactive brush, for icons in their "off" state.
    readonly property color inactive: "#D8FFFFFF"
    readonly property color coverPlaceholder: "#2A2A2A"
    readonly property color coverPlaceholderIcon: Qt.rgba(1, 1, 1, 0.35)

    readonly property int nowPlayingCoverSize: 56
    readonly property int tileSize: 104
    // The cover, then two caption lines.
    readonly property int tileHeight: tileSize + 40
    readonly property int tileSpacing: 12

    readonly property QtObject squareItem: QtObject {
        readonly property string shape: "rounded"
        readonly property int captionAlignment: Text.AlignLeft
    }
    readonly property QtObject circleItem: QtObject {
        readonly property string shape: "circle"
        readonly property int captionAlignment: Text.AlignHCenter
    }
    readonly property var itemStyles: ({
        "CorvanaItemButtonStyle": squareItem,
        "CorvanaItemCircleButtonStyle": circleItem
    })

    // The style a feed item names; the square one for a name this dictionary lacks.
    function itemStyle(name) {
        return itemStyles[name] || squareItem
    }
}
