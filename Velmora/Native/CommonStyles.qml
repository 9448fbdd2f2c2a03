pragma Singleton
import QtQuick

// The controls' metrics: sizes of buttons and icons, the progress bar, list entries.
QtObject {
    readonly property int controlSize: 32
    readonly property int playPauseSize: 40
    readonly property int iconSize: 20
    readonly property int smallIconSize: 16
    readonly property int primaryButtonHeight: 40
    readonly property int progressHeight: 4
    readonly property int listEntryHeight: 40
    readonly property int flyoutWidth: 248
}
