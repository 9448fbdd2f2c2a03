import QtQuick

// The web-view page's markup: one element that the web view fills. The page draws nothing of its own, so
// the host's rounded, translucent background shows through the web view's transparent one.
Item {
    Item {
        objectName: "webViewElement"
        anchors.fill: parent
    }
}
