import QtQuick
import Velmora

// One line of text that may come from the desktop app or the web: always plain text, never markup, elided
// at the end rather than wrapped or overflowing, and read by screen readers.
Text {
    textFormat: Text.PlainText
    elide: Text.ElideRight
    maximumLineCount: 1
    wrapMode: Text.NoWrap
    color: GameBarResourceDictionary.textPrimary
    font: GameBarTypography.body
    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
