import QtQuick
import Velmora

// The native widget page. The host draws the window's dark, translucent, rounded background; the page
// lays its content on it: the signed-out view, or what is playing with the home rows under it when
// expanded. In pinned-only mode only the now-playing block shows, at the opacity the player chose.
FocusScope {
    id: root

    required property CorvanaWidgetNative page
    readonly property CorvanaWidgetViewModel vm: page.CorvanaWidgetViewModel

    Accessible.role: Accessible.Pane
    Accessible.name: Converters.ResourceStringConverter("", "VelmoraWidget_NarratorText")

    // Both views are built between the first frames, while the widget connects and signs in, so that
    // connecting starts as soon as the page exists. Each is loaded by URL with its properties rather than
    // as an inline component: Qt 6.4 cannot load a component bound to this file asynchronously, and an
    // unbound one would reach the page through an id that qmllint cannot check.
    Loader {
        objectName: "SignedOutView"
        anchors.fill: parent
        asynchronous: true
        visible: !root.vm.ShowNowPlaying
        Component.onCompleted: setSource("Views/SignedOutView.qml", { viewModel: root.vm })
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

        Component.onCompleted: setSource("Views/SignedInView.qml", { page: root.page, viewModel: root.vm })
    }

    // Every change of the expanded state shows the feed from its top.
    readonly property bool expanded: vm.IsExpanded
    onExpandedChanged: page.ScrollFeedToTop()
}
