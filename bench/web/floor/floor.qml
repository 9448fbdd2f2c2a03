import QtQuick
import QtQuick.Window
import QtWebEngine

// The window as the widget's host makes it: frameless, on top, translucent, with a rounded dark background
// behind a transparent page.
Window {
    width: 320
    height: 612
    visible: true
    flags: Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    color: "transparent"

    Rectangle {
        anchors.fill: parent
        radius: 8
        color: "#eb121212"
    }
    WebEngineView {
        anchors.fill: parent
        backgroundColor: "transparent"
        webChannel: floorChannel
        url: "qrc:/floor/index.html"
    }
}
