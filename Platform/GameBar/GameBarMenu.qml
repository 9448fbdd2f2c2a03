import QtQuick
import QtQuick.Controls.Basic
import Theme

// The host's context menu: pinned only, opacity, hide (with the shortcut that brings the widget back),
// close. Made on first use (see GameBarChrome.qml).
Menu {
    id: menu
    objectName: "contextMenu"

    property QtObject host

    readonly property color surface: Theme.menuSurface
    readonly property color accent: Theme.accent
    readonly property color textPrimary: Theme.textPrimary
    readonly property color textSecondary: Theme.textSecondary

    component ChromeMenuItem: MenuItem {
        id: item
        // A secondary text at the right end (a key that does the same).
        property string hint: ""
        implicitHeight: Theme.menuItemHeight
        leftPadding: Theme.padding
        rightPadding: Theme.padding
        Accessible.name: text
        Accessible.onPressAction: item.triggered()

        contentItem: Item {
            implicitHeight: label.implicitHeight
            Text {
                id: label
                anchors.left: parent.left
                anchors.right: hintText.left
                anchors.rightMargin: hintText.text ? Theme.spacing : 0
                anchors.verticalCenter: parent.verticalCenter
                text: item.text
                textFormat: Text.PlainText
                color: menu.textPrimary
                font.pixelSize: Theme.bodySize
                leftPadding: item.checkable ? Theme.menuCheckIndent : 0
                elide: Text.ElideRight
            }
            Text {
                id: hintText
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                text: item.hint
                textFormat: Text.PlainText
                color: menu.textSecondary
                font.pixelSize: Theme.captionSize
            }
        }
        indicator: Rectangle {
            visible: item.checkable
            x: item.leftPadding
            anchors.verticalCenter: parent.verticalCenter
            width: Theme.checkBoxSize
            height: Theme.checkBoxSize
            radius: Theme.smallRadius
            color: item.checked ? menu.accent : "transparent"
            border.width: item.checked ? 0 : Theme.checkBoxBorder
            border.color: menu.textSecondary

            Text {
                anchors.centerIn: parent
                visible: item.checked
                text: "\u2713"
                color: Theme.textOnAccent
                font.pixelSize: Theme.checkMarkSize
                font.bold: true
            }
        }
        background: Rectangle {
            implicitWidth: Theme.menuItemWidth
            radius: Theme.smallRadius
            color: item.highlighted ? Theme.hoverFill : "transparent"
            border.width: item.visualFocus ? Theme.focusRingWidth : 0
            border.color: menu.accent
        }
    }

    padding: Theme.spacingSmall
    implicitWidth: Theme.menuWidth

    background: Rectangle {
        implicitWidth: Theme.menuWidth
        color: menu.surface
        radius: Theme.cornerRadius
        border.width: Theme.hairline
        border.color: Theme.menuDivider
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
        implicitWidth: Theme.menuWidth - 2 * Theme.spacingSmall
        implicitHeight: Theme.menuSliderHeight
        leftPadding: Theme.padding
        rightPadding: Theme.padding
        topPadding: Theme.menuSliderTop
        bottomPadding: Theme.menuSliderBottom
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
            radius: Theme.smallRadius
            color: opacitySlider.hovered ? Theme.hoverFill : "transparent"
            border.width: opacitySlider.visualFocus ? Theme.focusRingWidth : 0
            border.color: menu.accent

            Text {
                x: Theme.padding
                y: Theme.spacing
                text: qsTr("Opacity")
                textFormat: Text.PlainText
                color: menu.textPrimary
                font.pixelSize: Theme.bodySize
            }
            Text {
                anchors.right: parent.right
                anchors.rightMargin: Theme.padding
                y: Theme.spacing
                text: qsTr("%1 %").arg(Math.round(opacitySlider.value * 100))
                textFormat: Text.PlainText
                color: menu.textSecondary
                font.pixelSize: Theme.bodySize
            }
            Rectangle {
                x: opacitySlider.leftPadding
                y: opacitySlider.topPadding + opacitySlider.availableHeight / 2 - height / 2
                width: opacitySlider.availableWidth
                height: Theme.progressHeight
                radius: height / 2
                color: Theme.sliderTrack

                Rectangle {
                    width: opacitySlider.visualPosition * parent.width
                    height: parent.height
                    radius: height / 2
                    color: menu.accent
                }
            }
        }
        handle: Rectangle {
            x: opacitySlider.leftPadding + opacitySlider.visualPosition * (opacitySlider.availableWidth - width)
            y: opacitySlider.topPadding + opacitySlider.availableHeight / 2 - height / 2
            width: Theme.sliderHandleSize
            height: Theme.sliderHandleSize
            radius: width / 2
            color: menu.textPrimary
        }
    }

    MenuSeparator {
        contentItem: Rectangle {
            implicitHeight: Theme.hairline
            color: Theme.menuDivider
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
