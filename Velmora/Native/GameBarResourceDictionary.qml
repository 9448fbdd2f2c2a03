pragma Singleton
import QtQuick

// The overlay's look, shared with the host's chrome: surfaces, text colours, the spacing grid and the
// focus ring. The host draws the window's background (surface at backgroundOpacity, corners of
// cornerRadius); the page draws on it.
QtObject {
    readonly property color surface: "#121212"
    readonly property real backgroundOpacity: 0.92
    // Flyouts and menus, a step above the window.
    readonly property color raisedSurface: "#242424"
    readonly property color divider: Qt.rgba(1, 1, 1, 0.08)

    readonly property color textPrimary: "#FFFFFF"
    readonly property color textSecondary: Qt.rgba(1, 1, 1, 0.7)
    readonly property color textDisabled: Qt.rgba(1, 1, 1, 0.5)

    // Laid over a control on hover and press.
    readonly property color hoverFill: Qt.rgba(1, 1, 1, 0.1)
    readonly property color pressedFill: Qt.rgba(1, 1, 1, 0.18)
    readonly property real disabledOpacity: 0.5

    readonly property int cornerRadius: 8
    // Everything sits on a 4 px grid.
    readonly property int grid: 4
    readonly property int padding: 12
    readonly property int spacingSmall: 4
    readonly property int spacing: 8
    readonly property int spacingLarge: 16

    readonly property int focusRingWidth: 2
}
