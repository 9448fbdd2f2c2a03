import QtQuick
import QtQuick.Controls.Basic

// The host's context menu: pinned only, opacity, hide (with the shortcut that brings the widget back),
// close. Made on first use (see GameBarChrome.qml).
Menu {
    id: menu
    objectName: "contextMenu"

    property QtObject host

    readonly property color surface: "#2A2A2A"
    readonly property color accent: "#1DB954"
    readonly property color textPrimary: "#FFFFFF"
    readonly property color textSecondary: Qt.rgba(1, 1, 1, 0.7)

    component ChromeMenuItem: MenuItem {
        id: item
        // A secondary text at the right end (a key that does the same).
        property string hint: ""
        implicitHeight: 36
        leftPadding: 12
        rightPadding: 12
        Accessible.name: text
        Accessible.onPressAction: item.triggered()

        contentItem: Item {
            implicitHeight: label.implicitHeight
            Text {
                id: label
                anchors.left: parent.left
                anchors.right: hintText.left
                anchors.rightMargin: hintText.text ? 8 : 0
                anchors.verticalCenter: parent.verticalCenter
                text: item.text
                textFormat: Text.PlainText
                color: menu.textPrimary
                font.pixelSize: 13
                leftPadding: item.checkable ? 24 : 0
                elide: Text.ElideRight
            }
            Text {
                id: hintText
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                text: item.hint
                textFormat: Text.PlainText
                color: menu.textSecondary
                font.pixelSize: 11
            }
        }
        indicator: Rectangle {
            visible: item.checkable
            x: item.leftPadding
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 16
            radius: 4
            color: item.checked ? menu.accent : "transparent"
            border.width: item.checked ? 0 : 2
            border.color: menu.textSecondary

            Text {
                anchors.centerIn: parent
                visible: item.checked
                text: "\u2713"
                color: "#000000"
                font.pixelSize: 12
                font.bold: true
            }
        }
        background: Rectangle {
            implicitWidth: 200
            radius: 4
            color: item.highlighted ? Qt.rgba(1, 1, 1, 0.10) : "transparent"
            border.width: item.visualFocus ? 2 : 0
            border.color: menu.accent
        }
    }

    padding: 4
    implicitWidth: 220

    background: Rectangle {
        implicitWidth: 220
        color: menu.surface
        radius: 8
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.12)
    }

    ChromeMenuItem {
        id: pinnedItem
        objectName: "pinnedOnlyItem"
        text: qsTr("Pinned only")
        checkable: true
        checked: menu.host.pinnedOnly
        onToggled: {
            menu.host.setPinnedOnly(checked)
            checked = Qt.binding(() => menu.host.pinnedOnly)
        }
    }

    // Opacity in steps of 10 %, by pointer or by left and right; a slider rather than a menu item,
    // so that using it leaves the menu open.
    Slider {
        id: opacitySlider
        objectName: "opacitySlider"
        implicitWidth: 212
        implicitHeight: 54
        leftPadding: 12
        rightPadding: 12
        topPadding: 30
        bottomPadding: 10
        from: menu.host.minimumOpacity
        to: 1
        stepSize: 0.1
        snapMode: Slider.SnapAlways
        focusPolicy: Qt.StrongFocus
        value: menu.host.requestedOpacity
        onMoved: {
            menu.host.setRequestedOpacity(Math.round(value * 10) / 10)
            value = Qt.binding(() => menu.host.requestedOpacity)
        }
        Accessible.name: qsTr("Opacity")

        background: Rectangle {
            radius: 4
            color: opacitySlider.hovered ? Qt.rgba(1, 1, 1, 0.10) : "transparent"
            border.width: opacitySlider.visualFocus ? 2 : 0
            border.color: menu.accent

            Text {
                x: 12
                y: 8
                text: qsTr("Opacity")
                textFormat: Text.PlainText
                color: menu.textPrimary
                font.pixelSize: 13
            }
            Text {
                anchors.right: parent.right
                anchors.rightMargin: 12
                y: 8
                text: qsTr("%1 %").arg(Math.round(opacitySlider.value * 100))
                textFormat: Text.PlainText
                color: menu.textSecondary
                font.pixelSize: 13
            }
            Rectangle {
                x: opacitySlider.leftPadding
                y: opacitySlider.topPadding + opacitySlider.availableHeight / 2 - height / 2
                width: opacitySlider.availableWidth
                height: 4
                radius: 2
                color: Qt.rgba(1, 1, 1, 0.2)

                Rectangle {
                    width: opacitySlider.visualPosition * parent.width
                    height: parent.height
                    radius: 2
                    color: menu.accent
                }
            }
        }
        handle: Rectangle {
            x: opacitySlider.leftPadding + opacitySlider.visualPosition * (opacitySlider.availableWidth - width)
            y: opacitySlider.topPadding + opacitySlider.availableHeight / 2 - height / 2
            width: 14
            height: 14
            radius: 7
            color: menu.textPrimary
        }
    }

    MenuSeparator {
        contentItem: Rectangle {
            implicitHeight: 1
            color: Qt.rgba(1, 1, 1, 0.12)
        }
    }

    ChromeMenuItem {
        objectName: "hideItem"
        text: qsTr("Hide widget")
        hint: menu.host.toggleShortcut
        Accessible.name: menu.host.toggleShortcut ? qsTr("Hide widget, %1 shows it again").arg(menu.host.toggleShortcut)
                                                  : qsTr("Hide widget")
        onTriggered: menu.host.hide()
    }

    ChromeMenuItem {
        objectName: "closeItem"
        text: qsTr("Close widget")
        onTriggered: menu.host.close()
    }
}
