pragma Singleton
import QtQuick
import Theme

// The overlay's look, shared with the host's chrome: surfaces, text colours, the spacing grid and the
// focus ring. The host draws the window's background (surface at backgroundOpacity, corners of
// cornerRadius); the page draws on it. The values are the theme's (Theme/theme.json).
QtObject {
    readonly property color surface: Theme.surface
    readonly property real backgroundOpacity: Theme.backgroundOpacity
    // The window's background as one colour, for what fades into it.
    readonly property color translucentSurface: Theme.translucentSurface
    // Flyouts and menus, a step above the window.
    readonly property color raisedSurface: Theme.raisedSurface
    readonly property color divider: Theme.divider
    // Two layers of a flyout's shadow.
    readonly property color nearShadow: Theme.nearShadow
    readonly property color farShadow: Theme.farShadow
    // Laid over the page while a sheet shows on it, so the sheet reads as the one thing to answer.
    readonly property color scrim: Theme.scrim

    readonly property color textPrimary: Theme.textPrimary
    readonly property color textSecondary: Theme.textSecondary
    readonly property color textDisabled: Theme.textDisabled

    // Laid over a control on hover and press.
    readonly property color hoverFill: Theme.hoverFill
    readonly property color pressedFill: Theme.pressedFill
    // The progress bar's unfilled part; a scroll bar's thumb, and while dragged.
    readonly property color progressTrack: Theme.progressTrack
    readonly property color scrollbarThumb: Theme.scrollbarThumb
    readonly property color scrollbarThumbPressed: Theme.scrollbarThumbPressed
    // A filled (white) control while pressed.
    readonly property color filledPressed: Theme.filledPressed
    readonly property real disabledOpacity: Theme.disabledOpacity

    readonly property int cornerRadius: Theme.cornerRadius
    readonly property int entryRadius: Theme.entryRadius
    readonly property int hairline: Theme.hairline
    // Everything sits on a 4 px grid.
    readonly property int grid: Theme.grid
    readonly property int padding: Theme.padding
    readonly property int spacingSmall: Theme.spacingSmall
    readonly property int spacing: Theme.spacing
    readonly property int spacingLarge: Theme.spacingLarge
    // Between the lines of a text block.
    readonly property int lineGap: Theme.lineGap

    readonly property int focusRingWidth: Theme.focusRingWidth
    // A flyout's shadow: how far each layer reaches out at the sides, top and bottom.
    readonly property int nearShadowSide: Theme.nearShadowSide
    readonly property int nearShadowTop: Theme.nearShadowTop
    readonly property int nearShadowBottom: Theme.nearShadowBottom
    readonly property int farShadowSide: Theme.farShadowSide
    readonly property int farShadowTop: Theme.farShadowTop
    readonly property int farShadowBottom: Theme.farShadowBottom
    readonly property int fadeDuration: Theme.fade
}
