import QtQuick
import Velmora

// A cover picture in its shape ("rounded" or "circle"), with a placeholder while there is none and when it
// fails to load. A new picture replaces the old one only once it has loaded (with a short fade when
// `fade` is set), so changing tracks never flashes the placeholder.
Item {
    id: cover

    // The picture's HTTPS URL; empty for none.
    property url source
    property string shape: "rounded"
    // The pixel height to decode the picture at; the item's own height when 0.
    property int decodeHeight: 0
    property bool fade: false

    readonly property int side: decodeHeight > 0 ? decodeHeight : Math.round(height)
    readonly property string wanted: source.toString().length > 0 && side > 0
        ? "image://cover/" + shape + "/" + encodeURIComponent(source.toString()) : ""
    // Which of the two pictures is shown; the other one loads the next cover.
    property int shown: 0
    readonly property bool loaded: (shown === 0 ? first : second).status === Image.Ready

    implicitWidth: CorvanaResourceDictionary.nowPlayingCoverSize
    implicitHeight: CorvanaResourceDictionary.nowPlayingCoverSize

    onWantedChanged: {
        const next = shown === 0 ? second : first
        next.requested = wanted
        // Nothing to wait for: show the placeholder (or the cached picture) now.
        if (wanted.length === 0 || next.status === Image.Ready || next.status === Image.Error)
            shown = 1 - shown
    }
    Component.onCompleted: first.requested = wanted

    Rectangle {
        anchors.fill: parent
        visible: !cover.loaded
        radius: cover.shape === "circle" ? width / 2 : width / 16
        color: CorvanaResourceDictionary.coverPlaceholder

        Icon {
            anchors.centerIn: parent
            glyph: "music-note"
            size: Math.round(parent.width * 0.42)
            color: CorvanaResourceDictionary.coverPlaceholderIcon
        }
    }

    component Picture: Image {
        required property int slot
        property string requested
        source: requested
        anchors.fill: parent
        asynchronous: true
        smooth: true
        sourceSize: Qt.size(cover.side, cover.side)
        opacity: cover.shown === slot ? 1 : 0
        Behavior on opacity {
            enabled: cover.fade
            NumberAnimation { duration: 180; easing.type: Easing.OutQuad }
        }
        onStatusChanged: {
            const settled = status === Image.Ready || status === Image.Error
            if (settled && cover.shown !== slot && requested === cover.wanted)
                cover.shown = slot
        }
        Accessible.ignored: true
    }

    Picture {
        id: first
        slot: 0
    }
    Picture {
        id: second
        slot: 1
    }
}
