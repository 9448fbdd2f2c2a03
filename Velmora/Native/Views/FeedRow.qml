import QtQuick
import Velmora

// One home row: its title and its tiles, which scroll sideways from edge to edge of the window.
FocusScope {
    id: row

    required property CorvanaViewCategoryViewModel modelData
    required property int index

    implicitHeight: title.height + GameBarResourceDictionary.spacing + tiles.height

    PlainLabel {
        id: title
        objectName: "RowTitle"
        width: parent.width
        font: GameBarTypography.bodyStrong
        text: row.modelData ? row.modelData.Name : ""
    }

    ListView {
        id: tiles
        objectName: "RowTiles"
        // Full bleed: the tiles pass under the window's padding on both sides.
        x: -GameBarResourceDictionary.padding
        width: row.width + 2 * GameBarResourceDictionary.padding
        anchors.top: title.bottom
        anchors.topMargin: GameBarResourceDictionary.spacing
        height: CorvanaResourceDictionary.tileHeight
        orientation: ListView.Horizontal
        leftMargin: GameBarResourceDictionary.padding
        rightMargin: GameBarResourceDictionary.padding
        spacing: CorvanaResourceDictionary.tileSpacing
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        cacheBuffer: 400
        model: row.modelData ? row.modelData.Items : null
        Accessible.role: Accessible.List
        Accessible.name: row.modelData ? row.modelData.Name : ""

        delegate: FeedTile {
            onActiveFocusChanged: if (activeFocus) ListView.view.positionViewAtIndex(index, ListView.Contain)
        }
    }
}
