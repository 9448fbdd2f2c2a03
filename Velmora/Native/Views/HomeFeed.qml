import QtQuick
import QtQuick.Templates as T
import Velmora

// The home rows, scrolling vertically; each row scrolls its tiles sideways.
ListView {
    id: feed

    required property QtObject viewModel

    objectName: "FeedScrollViewer"
    model: viewModel.Categories
    clip: true
    spacing: GameBarResourceDictionary.spacingLarge
    boundsBehavior: Flickable.StopAtBounds
    // Rows are few and light; keeping them made spares Tab a row to move into.
    cacheBuffer: 600
    bottomMargin: GameBarResourceDictionary.padding
    Accessible.role: Accessible.List
    Accessible.name: Converters.ResourceStringConverter("", "CorvanaHomeFeed_NarratorText")

    T.ScrollBar.vertical: T.ScrollBar {
        id: scrollBar
        visible: feed.viewModel.IsScrollBarEnabled
        policy: T.ScrollBar.AsNeeded
        minimumSize: 0.1
        // As the web page's: a thin thumb that shows while there is more to scroll to, on no track.
        padding: 0
        implicitWidth: GameBarResourceDictionary.spacingSmall + 2
        contentItem: Rectangle {
            implicitWidth: GameBarResourceDictionary.spacingSmall + 2
            visible: scrollBar.size < 1
            radius: width / 2
            color: scrollBar.pressed ? GameBarResourceDictionary.textDisabled : GameBarResourceDictionary.pressedFill
        }
    }

    delegate: FeedRow {
        width: ListView.view.width
        // Tabbing into a row that is partly out of view brings it in.
        onActiveFocusChanged: if (activeFocus) ListView.view.positionViewAtIndex(index, ListView.Contain)
    }
}
