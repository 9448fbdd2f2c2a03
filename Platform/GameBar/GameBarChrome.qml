import QtQuick
import QtQuick.Window
import Theme

// The host's chrome around a widget page: background, moving, edge resizing and the context menu. The
// page sits in contentSlot, above the background and below the resize edges.
Item {
    id: chrome

    required property QtObject host

    readonly property color surface: Theme.surface
    readonly property int radius: Theme.cornerRadius

    Accessible.role: Accessible.Window
    Accessible.name: qsTr("Widget")

    Rectangle {
        id: background
        objectName: "background"
        anchors.fill: parent
        radius: chrome.radius
        color: chrome.surface
        // In pinned-only mode the overlay is closed and the player's requested opacity applies.
        opacity: Theme.backgroundOpacity * (chrome.host.pinnedOnly ? chrome.host.requestedOpacity : 1)
        border.width: Theme.hairline
        border.color: Theme.divider
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
        onTapped: (eventPoint) => chrome.openMenu(eventPoint.position.x, eventPoint.position.y, false)
    }

    Shortcut {
        sequences: ["Shift+F10", "Menu"]
        context: Qt.WindowShortcut
        onActivated: chrome.openMenu(chrome.radius, chrome.radius, true)
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
        width: Theme.resizeEdge
        anchors { right: parent.right; top: parent.top; bottom: parent.bottom; bottomMargin: Theme.resizeCorner }
        cursorShape: Qt.SizeHorCursor
    }
    ResizeEdge {
        objectName: "bottomEdge"
        edges: Qt.BottomEdge
        visible: chrome.host.verticalResizeSupported
        height: Theme.resizeEdge
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom; rightMargin: Theme.resizeCorner }
        cursorShape: Qt.SizeVerCursor
    }
    ResizeEdge {
        objectName: "cornerEdge"
        edges: Qt.RightEdge | Qt.BottomEdge
        visible: chrome.host.horizontalResizeSupported && chrome.host.verticalResizeSupported
        width: Theme.resizeCorner
        height: Theme.resizeCorner
        anchors { right: parent.right; bottom: parent.bottom }
        cursorShape: Qt.SizeFDiagCursor
    }

    // The menu and its controls are made the first time it opens: the Controls module they need costs
    // tens of milliseconds that the widget's first frame does not wait for.
    Loader {
        id: menuLoader
        active: false
        source: "GameBarMenu.qml"
        onLoaded: item.host = chrome.host
    }

    // Opened from the keyboard, the menu starts on its first item, with the focus ring on it, so that
    // the player sees where the arrow keys begin.
    function openMenu(x, y, byKeyboard) {
        menuLoader.active = true
        const menu = menuLoader.item
        menu.popup(chrome, x, y)
        if (!byKeyboard)
            return
        // The focus first, for the reason Tab gives (which shows the ring), then current: an item that has
        // the focus already keeps the reason it got it for.
        menu.itemAt(0).forceActiveFocus(Qt.TabFocusReason)
        menu.currentIndex = 0
    }
}
