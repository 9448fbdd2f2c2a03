import QtQuick
import Velmora

// One home row: its title with the two scroll buttons, and its tiles, which scroll sideways from edge to edge
// of the window. The buttons page the row by the tiles that fit and are disabled at either end.
FocusScope {
    id: row

    required property QtObject modelData
    required property int index

    implicitHeight: title.height + GameBarResourceDictionary.spacing + tiles.height

    PlainLabel {
        id: title
        objectName: "RowTitle"
        anchors { left: parent.left; right: scrollers.left; rightMargin: GameBarResourceDictionary.spacing }
        height: scrollers.height
        verticalAlignment: Text.AlignVCenter
        font: GameBarTypography.bodyStrong
        text: row.modelData ? row.modelData.Name : ""
    }

    Row {
        id: scrollers
        anchors { right: parent.right; rightMargin: -GameBarResourceDictionary.spacingSmall }
        readonly property string rowName: row.modelData ? row.modelData.Name : ""

        function page(direction) {
            const by = direction * (tiles.width - tiles.leftMargin - tiles.rightMargin)
            const end = Math.max(tiles.originX - tiles.leftMargin,
                                 tiles.contentWidth + tiles.originX + tiles.rightMargin - tiles.width)
            scroll.to = Math.min(end, Math.max(tiles.originX - tiles.leftMargin, tiles.contentX + by))
            scroll.restart()
        }

        IconButton {
            objectName: "RowScrollBack"
            enabled: !tiles.atXBeginning
            glyph: "chevron-left"
            iconSize: CommonStyles.smallIconSize
            narratorText: Converters.ResourceStringConverter("", "CorvanaRowScrollBack_NarratorText")
            Accessible.description: scrollers.rowName
            onClicked: scrollers.page(-1)
        }
        IconButton {
            objectName: "RowScrollForward"
            enabled: !tiles.atXEnd
            glyph: "chevron-right"
            iconSize: CommonStyles.smallIconSize
            narratorText: Converters.ResourceStringConverter("", "CorvanaRowScrollForward_NarratorText")
            Accessible.description: scrollers.rowName
            onClicked: scrollers.page(1)
        }
    }

    NumberAnimation {
        id: scroll
        target: tiles
        property: "contentX"
        duration: 250
        easing.type: Easing.OutCubic
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
