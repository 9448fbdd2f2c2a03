pragma Singleton
import QtQuick
import Theme

// Corvana's part of the look: its green for "on" states, the cover placeholder, the sizes of covers and
// tiles, and the two feed item styles, looked up by the names a feed item gives as its ImageStyle. The
// values are the theme's (Theme/theme.json).
QtObject {
    // The view model's active brush: shuffle on, another device playing, the progress fill.
    readonly property color accent: Theme.accent
    // Text and icons on an accent fill.
    readonly property color textOnAccent: Theme.textOnAccent
    // The view model's inactive brush, for icons in their "off" state.
    readonly property color inactive: Theme.inactive
    readonly property color coverPlaceholder: Theme.coverPlaceholder
    readonly property color coverPlaceholderIcon: Theme.coverPlaceholderIcon
    // Over a tile's cover on hover and press, under its play badge.
    readonly property color tileOverlay: Theme.tileOverlay
    readonly property color tileOverlayPressed: Theme.tileOverlayPressed

    readonly property int nowPlayingCoverSize: Theme.nowPlayingCoverSize
    readonly property int pinnedMarkSize: Theme.pinnedMarkSize
    readonly property int tileSize: Theme.tileSize
    // The cover, then two caption lines.
    readonly property int tileHeight: tileSize + Theme.tileCaptionHeight
    readonly property int tileSpacing: Theme.tileSpacing
    readonly property int playBadgeSize: Theme.playBadgeSize
    readonly property int playBadgeIconSize: Theme.playBadgeIconSize
    readonly property int feedFadeHeight: Theme.feedFadeHeight
    readonly property int signedOutMarkSize: Theme.signedOutMarkSize
    readonly property int signedOutTextWidth: Theme.signedOutTextWidth

    readonly property FeedItemStyle squareItem: FeedItemStyle {
        shape: "rounded"
        captionAlignment: Text.AlignLeft
    }
    readonly property FeedItemStyle circleItem: FeedItemStyle {
        shape: "circle"
        captionAlignment: Text.AlignHCenter
    }
    readonly property var itemStyles: ({
        "CorvanaItemButtonStyle": squareItem,
        "CorvanaItemCircleButtonStyle": circleItem
    })

    // The style a feed item names; the square one for a name this dictionary lacks.
    function itemStyle(name: string): FeedItemStyle {
        return itemStyles[name] || squareItem
    }
}
