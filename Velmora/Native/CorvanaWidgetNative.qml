import QtQuick
import Velmora

// The native widget page. The host draws the window's dark, translucent, rounded background; the page
// lays its content on it: the signed-out view, or what is playing with the home rows under it when
// expanded. In pinned-only mode only the now-playing block shows, at the opacity the player chose.
FocusScope {
    id: root

    required property CorvanaWidgetNative page
    readonly property QtObject vm: page.CorvanaWidgetViewModel

    Accessible.role: Accessible.Pane
    Accessible.name: Converters.ResourceStringConverter("", "VelmoraWidget_NarratorText")

    // Both views are built between the first frames, while the widget connects and signs in, so that
    // connecting starts as soon as the page exists.
    Loader {
        objectName: "SignedOutView"
        anchors.fill: parent
        asynchronous: true
        visible: !root.vm.ShowNowPlaying
        sourceComponent: SignedOutView {
            viewModel: root.vm
        }
    }

    Loader {
        id: signedIn
        objectName: "SignedInView"
        anchors.fill: parent
        anchors.margins: GameBarResourceDictionary.padding
        asynchronous: true
        // Also while a sign-in is under way and for a player without a Corvana account: what plays
        // shows at once, the feed joins once signed in.
        visible: root.vm.ShowNowPlaying && status === Loader.Ready
        opacity: root.vm.IsPinnedOnly ? root.vm.Opacity : 1
        focus: visible

        sourceComponent: Item {
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
                page: root.page
                viewModel: root.vm
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
                height: 1
                color: GameBarResourceDictionary.divider
            }

            HomeFeed {
                id: feed
                visible: root.vm.IsSignedIn && root.vm.IsExpanded && !root.vm.IsPinnedOnly
                anchors {
                    left: parent.left
                    right: parent.right
                    top: divider.bottom
                    topMargin: GameBarResourceDictionary.padding
                    bottom: parent.bottom
                    bottomMargin: -GameBarResourceDictionary.padding
                }
                viewModel: root.vm
            }

            // The rows fade out into the window's bottom edge while there is more below, so that a row
            // cut by the edge reads as one to scroll to.
            Rectangle {
                objectName: "FeedFade"
                visible: feed.visible && !feed.atYEnd
                anchors { left: feed.left; right: feed.right; bottom: feed.bottom }
                height: 40
                gradient: Gradient {
                    GradientStop { position: 0; color: "transparent" }
                    GradientStop {
                        position: 1
                        readonly property color surface: GameBarResourceDictionary.surface
                        color: Qt.rgba(surface.r, surface.g, surface.b, GameBarResourceDictionary.backgroundOpacity)
                    }
                }
            }
        }
    }

    // Every change of the expanded state shows the feed from its top.
    readonly property bool expanded: vm.IsExpanded
    onExpandedChanged: page.ScrollFeedToTop()
}
