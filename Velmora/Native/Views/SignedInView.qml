import QtQuick
import Velmora

// Signed in, or showing what plays without the feed: the now-playing block, with the home rows under it
// while expanded.
Item {
    id: view

    required property CorvanaWidgetNative page
    required property CorvanaWidgetViewModel viewModel

    NowPlaying {
        id: nowPlaying
        objectName: "NowPlaying"
        anchors { left: parent.left; right: parent.right; top: parent.top }
        // Without the feed (collapsed) the block sits in the middle of the window, as much room
        // above it as below. At most a padding and a spacing more, so that a frame drawn before the window has
        // taken its new size shows the block where it was.
        anchors.topMargin: feed.visible ? 0
            : Math.max(0, Math.min(GameBarResourceDictionary.padding + GameBarResourceDictionary.spacing,
                                   Math.floor((parent.height - height) / 2)))
        page: view.page
        viewModel: view.viewModel
    }

    Rectangle {
        id: divider
        visible: feed.visible
        anchors {
            left: parent.left
            right: parent.right
            top: nowPlaying.bottom
            topMargin: GameBarResourceDictionary.padding
        }
        height: GameBarResourceDictionary.hairline
        color: GameBarResourceDictionary.divider
    }

    HomeFeed {
        id: feed
        visible: view.viewModel.IsSignedIn && view.viewModel.IsExpanded && !view.viewModel.IsPinnedOnly
        anchors {
            left: parent.left
            right: parent.right
            top: divider.bottom
            topMargin: GameBarResourceDictionary.padding
            bottom: parent.bottom
            bottomMargin: -GameBarResourceDictionary.padding
        }
        viewModel: view.viewModel
    }

    // The rows fade out into the window's bottom edge while there is more below, so that a row
    // cut by the edge reads as one to scroll to.
    Rectangle {
        objectName: "FeedFade"
        visible: feed.visible && !feed.atYEnd
        anchors { left: feed.left; right: feed.right; bottom: feed.bottom }
        height: CorvanaResourceDictionary.feedFadeHeight
        gradient: Gradient {
            GradientStop { position: 0; color: "transparent" }
            GradientStop { position: 1; color: GameBarResourceDictionary.translucentSurface }
        }
    }
}
