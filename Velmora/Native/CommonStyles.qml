pragma Singleton
import QtQuick
import Theme

// The controls' metrics: sizes of buttons and icons, the progress bar, list entries. The values are the
// theme's (Theme/theme.json), which the web page and the host's chrome share.
QtObject {
    readonly property int controlSize: Theme.controlSize
    readonly property int playPauseSize: Theme.playPauseSize
    readonly property int iconSize: Theme.iconSize
    readonly property int smallIconSize: Theme.smallIconSize
    readonly property int largeIconSize: Theme.largeIconSize
    readonly property int primaryButtonHeight: Theme.primaryButtonHeight
    readonly property int buttonPadding: Theme.buttonPadding
    readonly property int progressHeight: Theme.progressHeight
    readonly property int listEntryHeight: Theme.listEntryHeight
    // A slider's width where its layout gives none.
    readonly property int sliderDefaultWidth: Theme.sliderDefaultWidth
    readonly property int spinnerSize: Theme.spinnerSize
    readonly property int scrollbarWidth: Theme.scrollbarWidth
    readonly property int scrollbarThumbWidth: Theme.scrollbarThumbWidth
    readonly property int scrollbarPadding: Theme.scrollbarPadding
}
