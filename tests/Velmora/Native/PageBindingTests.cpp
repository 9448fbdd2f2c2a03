// What the native page sees of the widget view model through QML: the names it binds, the values those
// bindings get, and the commands it invokes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlEngine>

#include "tests/Velmora/Native/WidgetFixture.h"

using testsupport::PlaybackMessage;

namespace {

class PageBindings : public testsupport::WidgetFixture {};

constexpr const char* kPage = R"(
import QtQml 2.15
QtObject {
    required property var vm
    readonly property var bound: ["Opacity", "ShowSpinner", "IsSignedIn", "InErrorState", "IsExpanded",
        "IsScrollBarEnabled", "ShowExpandButton", "ExpandButtonGlyph", "ExpandCollapseNarratorText", "Categories",
        "CurrentlyPlayingTrack", "CurrentlyPlayingTrackArtist", "CurrentlyPlayingTrackProgressPercentage",
        "ImageSource", "ShowPinnedCorvanaLogo", "CorvanaActionsInfo", "IsPlayPauseButtonEnabled", "PlayPauseIcon",
        "PlayPauseNarratorText", "ShowPreviousNextControls", "ShowSkipBackAheadControls", "ShowShuffleButton",
        "EnableDisableButtonForegroundBrush", "EnableDisableNarratorText", "ShowAddRemoveLibraryButton",
        "AddRemoveLibraryIcon", "AddRemoveLibraryNarratorText", "EnablePlaybackDeviceSelectionButton",
        "PlaybackDeviceSelectionButtonBrush", "PlaybackDevices", "SelectedPlaybackDevice",
        "IsPlaybackDevicesFlyoutOpen", "CurrentlyPlayingTrackImageDecodeHeight"]
    readonly property var missing: bound.filter(name => vm[name] === undefined)
    readonly property string track: vm.CurrentlyPlayingTrack
    readonly property bool canPause: vm.CorvanaActionsInfo.CanPause
    readonly property string cover: vm.ImageSource ? vm.ImageSource.UriSource : ""
    readonly property int rows: vm.Categories ? vm.Categories.count : -1
    readonly property var shuffleColour: vm.EnableDisableButtonForegroundBrush
    function openPicker() { vm.IsPlaybackDevicesFlyoutOpen = true }
    function playPause() { vm.PlayPause() }
}
)";

}  // namespace

TEST_F(PageBindings, EveryBoundNameResolvesAndFollowsTheViewModel) {
    int argc = 1;
    char name[] = "tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(kPage, QUrl("qrc:/PageBindings.qml"));
    ASSERT_TRUE(component.isReady()) << component.errorString().toStdString();
    std::unique_ptr<QObject> page(
        component.createWithInitialProperties({{"vm", QVariant::fromValue<QObject*>(vm.get())}}));
    ASSERT_NE(page, nullptr) << component.errorString().toStdString();
    EXPECT_EQ(page->property("missing").toStringList(), QStringList());
    EXPECT_EQ(page->property("rows").toInt(), -1);

    RegisterAndSignIn();
    Push(PlaybackMessage{});
    Pump();
    EXPECT_EQ(page->property("track").toString(), "Song");
    EXPECT_TRUE(page->property("canPause").toBool());
    EXPECT_EQ(page->property("cover").toString(), "https://images.example/t1.jpg");
    EXPECT_EQ(page->property("rows").toInt(), 2);
    EXPECT_EQ(page->property("shuffleColour").value<QColor>(), QColor(0xFF, 0xFF, 0xFF, 0xD8));

    QMetaObject::invokeMethod(page.get(), "openPicker");
    EXPECT_TRUE(vm->IsPlaybackDevicesFlyoutOpen());
    script->ClearRequests();
    QMetaObject::invokeMethod(page.get(), "playPause");
    EXPECT_EQ(Methods(), std::vector<std::string>{"playback_pause"});
    page.reset();
}
