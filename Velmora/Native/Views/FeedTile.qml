import QtQuick
import QtQuick.Templates as T
import Velmora

// One feed item: its cover (round for an artist), name and second line. A click plays it.
T.AbstractButton {
    id: tile

    required property CorvanaItemViewModel modelData
    required property int index
    objectName: "FeedTile"
    // The delegate outlives its item for a moment when the rows are replaced.
    readonly property FeedItemStyle itemStyle: CorvanaResourceDictionary.itemStyle(modelData ? modelData.ImageStyle : "")

    width: CorvanaResourceDictionary.tileSize
    height: CorvanaResourceDictionary.tileHeight
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true

    Accessible.role: Accessible.Button
    Accessible.name: modelData ? modelData.Name : ""
    Accessible.description: modelData ? modelData.Description : ""
    Accessible.onPressAction: tile.clicked()
    Keys.onReturnPressed: tile.clicked()
    Keys.onEnterPressed: tile.clicked()
    onClicked: if (modelData) modelData.PlayAsync()

    contentItem: Column {
        spacing: GameBarResourceDictionary.spacing

        Item {
            width: tile.width
            height: width

            Cover {
                anchors.fill: parent
                shape: tile.itemStyle.shape
                source: tile.modelData ? tile.modelData.Image : ""
            }
            // Hover and focus: the cover dims and a play badge shows what a click does.
            Rectangle {
                anchors.fill: parent
                radius: tile.itemStyle.shape === "circle" ? width / 2 : width / 16
                color: tile.down ? CorvanaResourceDictionary.tileOverlayPressed : CorvanaResourceDictionary.tileOverlay
                visible: tile.hovered || tile.visualFocus
            }
            Rectangle {
                visible: tile.hovered || tile.visualFocus
                width: CorvanaResourceDictionary.playBadgeSize
                height: CorvanaResourceDictionary.playBadgeSize
                radius: width / 2
                anchors { right: parent.right; bottom: parent.bottom; margins: GameBarResourceDictionary.spacing }
                color: CorvanaResourceDictionary.accent

                Icon {
                    anchors.centerIn: parent
                    glyph: "play"
                    size: CorvanaResourceDictionary.playBadgeIconSize
                    color: CorvanaResourceDictionary.textOnAccent
                }
            }
            FocusRing {
                radius: tile.itemStyle.shape === "circle" ? width / 2 : width / 16 + GameBarResourceDictionary.focusRingWidth
                visible: tile.visualFocus
            }
        }

        Column {
            width: tile.width
            spacing: GameBarResourceDictionary.lineGap

            PlainLabel {
                objectName: "TileName"
                width: parent.width
                horizontalAlignment: tile.itemStyle.captionAlignment
                font: GameBarTypography.captionStrong
                text: tile.modelData ? tile.modelData.Name : ""
            }
            PlainLabel {
                objectName: "TileDescription"
                width: parent.width
                horizontalAlignment: tile.itemStyle.captionAlignment
                font: GameBarTypography.caption
                color: GameBarResourceDictionary.textSecondary
                text: tile.modelData ? tile.modelData.Description : ""
            }
        }
    }
}
