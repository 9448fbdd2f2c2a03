pragma ComponentBehavior: Bound
import QtQuick
import Velmora

// A cover picture in its shape ("rounded" or "circle"), with a placeholder while there is none and when it
// fails to load. A new picture replaces the old one only once it has loaded, fading in over it when `fade`
// is set, so changing tracks never flashes the placeholder.
Item {
    id: cover

    // The picture's HTTPS URL; empty for none.
    property url source
    property string shape: "rounded"
    // The pixel height to decode the picture at; the item's own height when 0.
    property int decodeHeight: 0
    property bool fade: false

    readonly property int side: decodeHeight > 0 ? decodeHeight : Math.round(height)
    readonly property string wanted: String(source).length > 0 && side > 0
        ? "image://cover/" + shape + "/" + encodeURIComponent(String(source)) : ""
    // Which of the two pictures is in front; the other one loads the next cover.
    property int shown: 0
    readonly property bool loaded: (shown === 0 ? first : second).status === Image.Ready
    readonly property bool fading: fadeIn.running

    implicitWidth: CorvanaResourceDictionary.nowPlayingCoverSize
    implicitHeight: CorvanaResourceDictionary.nowPlayingCoverSize

    function pictureOf(slot) {
        return slot === 0 ? first : second
    }
    // Brings a settled picture to the front and lets the other one go.
    function show(slot) {
        fadeIn.complete()
        shown = slot
        const front = pictureOf(slot)
        const back = pictureOf(1 - slot)
        if (fade && front.status === Image.Ready && back.opacity > 0) {
            front.opacity = 0
            fadeIn.target = front
            fadeIn.restart()
        } else {
            front.opacity = 1
            back.opacity = 0
        }
    }

    onWantedChanged: {
        const next = pictureOf(1 - shown)
        next.requested = wanted
        // Nothing to wait for: show the placeholder (or the cached picture) now.
        if (wanted.length === 0 || next.status === Image.Ready || next.status === Image.Error)
            show(1 - shown)
    }
    // A size set while the item was made may have sent the picture to the second slot already.
    Component.onCompleted: if (second.requested.length === 0) first.requested = wanted

    Rectangle {
        anchors.fill: parent
        visible: !(first.status === Image.Ready && first.opacity > 0)
                 && !(second.status === Image.Ready && second.opacity > 0)
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
        // Qt shares a picture still loading between all images that ask for it, across engines: one left
        // loading by a window that closed would never finish for the next window.
        cache: false
        smooth: true
        sourceSize { width: cover.side; height: cover.side }
        z: cover.shown === slot ? 1 : 0
        onStatusChanged: {
            const settled = status === Image.Ready || status === Image.Error
            if (settled && cover.shown !== slot && requested === cover.wanted)
                cover.show(slot)
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
        opacity: 0
    }

    NumberAnimation {
        id: fadeIn
        property: "opacity"
        to: 1
        duration: GameBarResourceDictionary.fadeDuration
        easing.type: Easing.OutQuad
        onFinished: cover.pictureOf(1 - cover.shown).opacity = 0
    }
}
