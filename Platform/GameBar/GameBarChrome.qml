import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Window

// The host's chrome around a widget page: background, moving, edge resizing and the context menu. The
// page sits in contentSlot, above the background and below the resize edges.
Item {
    id: chrome

    required property QtObject host

    readonly property color surface: "#121212"
    readonly property color menuSurface: "#2A2A2A"
    readonly property color accent: "#1DB954"
    readonly property color textPrimary: "#FFFFFF"
    readonly property color textSecondary: Qt.rgba(1, 1, 1, 0.7)
    readonly property int radius: 8

    Accessible.role: Accessible.Window
    Accessible.name: qsTr("Widget")

    Rectangle {
        id: background
        objectName: "background"
        anchors.fill: parent
        radius: chrome.radius
        color: chrome.surface
        // In pinned-only mode the overlay is closed and the player's requested opacity applies.
        opacity: 0.92 * (chrome.host.pinnedOnly ? chrome.host.requestedOpacity : 1)
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    // Moves the window from any area the page leaves empty: it never takes a press over from the page's
    // controls, and lets a list take a drag over from it.
    DragHandler {
        id: mover
        target: null
        grabPermissions: PointerHandler.CanTakeOverFromHandlersOfSameType | PointerHandler.ApprovesTakeOverByAnything

        property point pressGlobal
        property point windowStart
        property bool manual: false

        onActiveChanged: {
            manual = false
            if (!active)
                return
            const w = chrome.Window.window
            // Without a window manager (no system move) the window follows the pointer itself.
            if (w.startSystemMove())
                return
            manual = true
            pressGlobal = Qt.point(w.x + centroid.scenePressPosition.x, w.y + centroid.scenePressPosition.y)
            windowStart = Qt.point(w.x, w.y)
        }
        onCentroidChanged: {
            if (!manual)
                return
            const w = chrome.Window.window
            w.x = windowStart.x + (w.x + centroid.scenePosition.x) - pressGlobal.x
            w.y = windowStart.y + (w.y + centroid.scenePosition.y) - pressGlobal.y
        }
    }

    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: (eventPoint) => menu.popup(eventPoint.position.x, eventPoint.position.y)
    }

    Shortcut {
        sequences: ["Shift+F10", "Menu"]
        context: Qt.WindowShortcut
        onActivated: menu.popup(chrome.radius, chrome.radius)
    }

    Item {
        id: contentSlot
        objectName: "contentSlot"
        anchors.fill: parent
    }

    component ResizeEdge: MouseArea {
        required property int edges

        property point pressGlobal
        property size startSize
        property bool manual: false

        onPressed: (mouse) => {
            const w = chrome.Window.window
            manual = !w.startSystemResize(edges)
            pressGlobal = mapToGlobal(mouse.x, mouse.y)
            startSize = Qt.size(w.width, w.height)
        }
        onPositionChanged: (mouse) => {
            if (!manual || !pressed)
                return
            const w = chrome.Window.window
            const now = mapToGlobal(mouse.x, mouse.y)
            if (edges & Qt.RightEdge)
                w.width = Math.max(w.minimumWidth, startSize.width + now.x - pressGlobal.x)
            if (edges & Qt.BottomEdge)
                w.height = Math.max(w.minimumHeight, startSize.height + now.y - pressGlobal.y)
        }
    }

    ResizeEdge {
        objectName: "rightEdge"
        edges: Qt.RightEdge
        visible: chrome.host.horizontalResizeSupported
        width: 6
        anchors { right: parent.right; top: parent.top; bottom: parent.bottom; bottomMargin: 12 }
        cursorShape: Qt.SizeHorCursor
    }
    ResizeEdge {
        objectName: "bottomEdge"
        edges: Qt.BottomEdge
        visible: chrome.host.verticalResizeSupported
        height: 6
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom; rightMargin: 12 }
        cursorShape: Qt.SizeVerCursor
    }
    ResizeEdge {
        objectName: "cornerEdge"
        edges: Qt.RightEdge | Qt.BottomEdge
        visible: chrome.host.horizontalResizeSupported && chrome.host.verticalResizeSupported
        width: 12
        height: 12
        anchors { right: parent.right; bottom: parent.bottom }
        cursorShape: Qt.SizeFDiagCursor
    }

    component ChromeMenuItem: MenuItem {
        id: item
        implicitHeight: 36
        leftPadding: 12
        rightPadding: 12
        Accessible.name: text
        Accessible.onPressAction: item.triggered()

        contentItem: Text {
            text: item.text
            textFormat: Text.PlainText
            color: chrome.textPrimary
            font.pixelSize: 13
            verticalAlignment: Text.AlignVCenter
            leftPadding: item.checkable ? 24 : 0
            elide: Text.ElideRight
        }
        indicator: Rectangle {
            visible: item.checkable
            x: item.leftPadding
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 16
            radius: 4
            color: item.checked ? chrome.accent : "transparent"
            border.width: item.checked ? 0 : 2
            border.color: chrome.textSecondary

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
            border.color: chrome.accent
        }
    }

    Menu {
        id: menu
        objectName: "contextMenu"
        padding: 4
        implicitWidth: 220

        background: Rectangle {
            implicitWidth: 220
            color: chrome.menuSurface
            radius: chrome.radius
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.12)
        }

        ChromeMenuItem {
            id: pinnedItem
            objectName: "pinnedOnlyItem"
            text: qsTr("Pinned only")
            checkable: true
            checked: chrome.host.pinnedOnly
            onToggled: {
                chrome.host.setPinnedOnly(checked)
                checked = Qt.binding(() => chrome.host.pinnedOnly)
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
            from: chrome.host.minimumOpacity
            to: 1
            stepSize: 0.1
            snapMode: Slider.SnapAlways
            focusPolicy: Qt.StrongFocus
            value: chrome.host.requestedOpacity
            onMoved: {
                chrome.host.setRequestedOpacity(Math.round(value * 10) / 10)
                value = Qt.binding(() => chrome.host.requestedOpacity)
            }
            Accessible.name: qsTr("Opacity")

            background: Rectangle {
                radius: 4
                color: opacitySlider.hovered ? Qt.rgba(1, 1, 1, 0.10) : "transparent"
                border.width: opacitySlider.visualFocus ? 2 : 0
                border.color: chrome.accent

                Text {
                    x: 12
                    y: 8
                    text: qsTr("Opacity")
                    textFormat: Text.PlainText
                    color: chrome.textPrimary
                    font.pixelSize: 13
                }
                Text {
                    anchors.right: parent.right
                    anchors.rightMargin: 12
                    y: 8
                    text: qsTr("%1 %").arg(Math.round(opacitySlider.value * 100))
                    textFormat: Text.PlainText
                    color: chrome.textSecondary
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
                        color: chrome.accent
                    }
                }
            }
            handle: Rectangle {
                x: opacitySlider.leftPadding + opacitySlider.visualPosition * (opacitySlider.availableWidth - width)
                y: opacitySlider.topPadding + opacitySlider.availableHeight / 2 - height / 2
                width: 14
                height: 14
                radius: 7
                color: chrome.textPrimary
            }
        }

        MenuSeparator {
            contentItem: Rectangle {
                implicitHeight: 1
                color: Qt.rgba(1, 1, 1, 0.12)
            }
        }

        ChromeMenuItem {
            objectName: "closeItem"
            text: qsTr("Close widget")
            onTriggered: chrome.host.close()
        }
    }
}
