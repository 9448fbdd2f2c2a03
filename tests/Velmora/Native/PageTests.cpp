// The native page bound to its view model, offscreen, over the fake desktop connection: what it shows,
// what its controls send, what a screen reader and the keyboard get.
#include <gtest/gtest.h>

#include <atomic>

#include <QAccessible>
#include <QQmlComponent>
#include <QQmlError>
#include <QQuickWindow>
#include <QUrl>

#include "Platform/Http/HttpClient.h"
#include "Velmora/Native/CoverImageResponse.h"
#include "Velmora/Native/ViewModels/ConvertedPlaybackState.h"
#include "tests/Velmora/Native/PageFixture.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHelpers.h"

#include <sys/stat.h>

using testsupport::CoverServer;
using testsupport::Device;
using testsupport::PlaybackMessage;
using velmora::CorvanaWidgetViewModel;

namespace {

class NativePage : public testsupport::PageFixture {
protected:
    NativePage() { CreatePage(); }

    static PlaybackMessage Track() {
        PlaybackMessage track;
        track.uri = "corvana:track:neon";
        track.name = "Neon Boss Fight";
        track.artist = "Pixel Orchestra";
        track.album = "Final Stage";
        track.image = CoverServer::Instance().Url("neon-boss-fight");
        track.timestamp = std::to_string(velmora::ConvertedPlaybackState::NowMs());
        return track;
    }
    static PlaybackMessage Episode() {
        PlaybackMessage episode = Track();
        episode.uri = "corvana:episode:speedrun";
        episode.name = "Speedrunning the Classics";
        episode.artist = "Ignored for episodes";
        episode.album = "Game Talk Weekly";
        episode.image = CoverServer::Instance().Url("game-talk");
        episode.duration = 1820000;
        return episode;
    }
    static PlaybackMessage Advertisement() {
        PlaybackMessage ad = Track();
        ad.uri = "corvana:ad:1";
        ad.name = "Corvana Premium";
        ad.advertisement = true;
        ad.canAdd = false;
        return ad;
    }

    QString Text(const char* objectName) { return Find(objectName)->property("text").toString(); }
    static QString AccessibleName(QQuickItem* item) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(item);
        return accessible ? accessible->text(QAccessible::Name) : QString();
    }
    // The name of the icon the item's Icon child draws.
    static QString IconName(QQuickItem* item) {
        for (auto* child : item->findChildren<QQuickItem*>()) {
            QString source = child->property("source").toUrl().toString();
            if (source.startsWith("image://icon/")) return source.section('/', 3, 3);
        }
        return {};
    }
};

}  // namespace

TEST_F(NativePage, NowPlayingFollowsTheKindOfContent) {
    SignIn();
    struct Case {
        const char* label;
        PlaybackMessage message;
        QString title;
        QString artist;
        bool previousNext;
        bool skipBackAhead;
        bool shuffle;
    };
    const Case cases[] = {
        {"track", Track(), "Neon Boss Fight", "Pixel Orchestra", true, false, true},
        {"episode", Episode(), "Speedrunning the Classics", "Game Talk Weekly", false, true, false},
        // An advertisement keeps the transport buttons of what came before (the episode's here).
        {"advertisement", Advertisement(), "Advertisement", "Pixel Orchestra", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Push(c.message);
        EXPECT_EQ(Text("TrackTitle"), c.title);
        EXPECT_EQ(Text("TrackArtist"), c.artist);
        EXPECT_EQ(Showing("PreviousButton"), c.previousNext);
        EXPECT_EQ(Showing("NextButton"), c.previousNext);
        EXPECT_EQ(Showing("SkipBackButton"), c.skipBackAhead);
        EXPECT_EQ(Showing("SkipAheadButton"), c.skipBackAhead);
        EXPECT_EQ(Showing("ShuffleButton"), c.shuffle);
    }
}

TEST_F(NativePage, PlayPauseIconAndNameFollowPlayback) {
    SignIn();
    auto* button = Find("PlayPauseButton");
    for (bool paused : {false, true, false}) {
        PlaybackMessage state = Track();
        state.paused = paused;
        Push(state);
        EXPECT_EQ(IconName(button), paused ? "play" : "pause");
        EXPECT_EQ(AccessibleName(button), paused ? "Play" : "Pause");
    }
}

TEST_F(NativePage, EachControlSendsItsDesktopRequest) {
    SignIn();
    struct Case {
        const char* button;
        PlaybackMessage state;
        std::string method;
    };
    PlaybackMessage paused = Track();
    paused.paused = true;
    PlaybackMessage saved = Track();
    saved.inLibrary = true;
    const Case cases[] = {
        {"PlayPauseButton", Track(), "playback_pause"},  {"PlayPauseButton", paused, "playback_resume"},
        {"NextButton", Track(), "playback_next"},        {"PreviousButton", Track(), "playback_previous"},
        {"ShuffleButton", Track(), "playback_shuffle"},  {"LibraryButton", Track(), "library_add"},
        {"LibraryButton", saved, "library_remove"},      {"SkipBackButton", Episode(), "playback_seek"},
        {"SkipAheadButton", Episode(), "playback_seek"}, {"RepeatButton", Track(), "playback_repeat"},
        {"Progress", Track(), "playback_seek"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " -> " + c.method);
        Push(c.state);
        script->ClearRequests();
        Click(Find(c.button));
        ASSERT_TRUE(script->WaitForRequests(1));
        EXPECT_EQ(Methods(), std::vector<std::string>{c.method});
    }
    // The click on the middle of the bar was a seek there, once; repeat after "context" asks for "track".
    const auto seek = script->Requests().front().params;
    EXPECT_NEAR(seek.Lookup("position_ms").AsInt32(), 100000, 2000);
    EXPECT_FALSE(seek.Lookup("is_relative").AsBoolean());
    PlaybackMessage repeating = Track();
    repeating.repeat = "context";
    Push(repeating);
    script->ClearRequests();
    Click(Find("RepeatButton"));
    ASSERT_TRUE(script->WaitForRequests(1));
    EXPECT_EQ(script->Requests().front().params.Lookup("repeat").AsString(), "track");
}

TEST_F(NativePage, TheVolumeOfTheActiveDeviceShowsInThePickerAndMovesWithTheKeys) {
    SignIn();
    PlaybackMessage state = Track();
    state.volume = 0.5;
    Push(state);
    PushDevices({{"desk", true, true, "This computer"}});
    Click(Find("DevicePickerButton"));
    ASSERT_TRUE(Showing("VolumeSlider"));
    Find("VolumeSlider")->forceActiveFocus(Qt::TabFocusReason);
    script->ClearRequests();
    Key(Qt::Key_Right);
    ASSERT_TRUE(script->WaitForRequests(1));
    EXPECT_EQ(Methods(), std::vector<std::string>{"playback_volume"});
    EXPECT_DOUBLE_EQ(script->Requests().front().params.Lookup("volume_percentage").AsDouble(), 0.55);
}

TEST_F(NativePage, AFeedTilePlaysItsContext) {
    SignIn();
    Push(Track());
    script->ClearRequests();
    auto tiles = FindAll("RowTiles");
    ASSERT_FALSE(tiles.empty());
    QQuickItem* second = nullptr;
    QMetaObject::invokeMethod(tiles.front(), "itemAtIndex", Q_RETURN_ARG(QQuickItem*, second), Q_ARG(int, 1));
    Click(second);
    ASSERT_TRUE(script->WaitForRequests(1));
    EXPECT_EQ(Methods(), std::vector<std::string>{"playback_play"});
    EXPECT_EQ(script->Requests().front().params.Lookup("context").AsString(), "corvana:playlist:boss-fight");
}

TEST_F(NativePage, TheDevicePickerListsDevicesAndMovesPlayback) {
    SignIn();
    Push(Track());
    const std::string longName(300, 'W');
    PushDevices({{"desk", true, true, "This computer"},
                 {"phone", false, false, longName},
                 {"speaker", false, false, "Kitchen speaker"}});
    Click(Find("DevicePickerButton"));
    EXPECT_TRUE(Vm().IsPlaybackDevicesFlyoutOpen());
    auto* list = Find("DeviceList");
    ASSERT_TRUE(Shows(list));
    EXPECT_EQ(list->property("count").toInt(), 3);

    // However long, a name stays inside the flyout, elided.
    QQuickItem* phone = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, phone), Q_ARG(int, 1));
    ASSERT_NE(phone, nullptr);
    auto* name = FindAll("DeviceName", phone).value(0);
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->property("truncated").toBool());
    EXPECT_LE(name->mapToItem(list, QPointF(name->width(), 0)).x(), list->width());
    EXPECT_EQ(AccessibleName(phone), QString::fromStdString(longName));

    script->ClearRequests();
    Click(phone);
    ASSERT_TRUE(script->WaitForRequests(1));
    EXPECT_EQ(Methods(), std::vector<std::string>{"connect_transfer"});
    EXPECT_EQ(script->Requests().front().params.Lookup("device_id").AsString(), "phone");
    EXPECT_FALSE(Vm().IsPlaybackDevicesFlyoutOpen());
    EXPECT_FALSE(Showing("DeviceList"));
}

TEST_F(NativePage, AClosedPickerBuildsNoEntriesAndAnOpenOneOpensAtThePlayingDeviceHoweverFarDown) {
    SignIn();
    Push(Track());
    std::vector<testsupport::Device> devices;
    for (int i = 0; i < 200; ++i) devices.push_back({"d" + std::to_string(i), i == 150, false});
    PushDevices(devices);
    ASSERT_TRUE(PumpUntil([&] { return Vm().SelectedPlaybackDevice() != nullptr; }));
    EXPECT_TRUE(FindAll("DeviceName").isEmpty());

    Click(Find("DevicePickerButton"));
    auto* list = Find("DeviceList");
    ASSERT_TRUE(Shows(list));
    EXPECT_EQ(list->property("count").toInt(), 200);
    EXPECT_EQ(list->property("currentIndex").toInt(), 150);
    const auto built = FindAll("DeviceName");
    EXPECT_FALSE(built.isEmpty());
    EXPECT_LT(built.size(), 200);
    QQuickItem* playing = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, playing), Q_ARG(int, 150));
    ASSERT_NE(playing, nullptr);
    EXPECT_TRUE(Shows(playing));
    // Whole, above the volume under the list.
    Pump();
    ASSERT_TRUE(Showing("VolumeSlider"));
    const double top = playing->mapToItem(list, QPointF(0, 0)).y();
    EXPECT_GE(top, 0);
    EXPECT_LE(top + playing->height(), list->height());

    Key(Qt::Key_Escape);
    ASSERT_TRUE(PumpUntil([&] { return FindAll("DeviceName").isEmpty(); }));
}

TEST_F(NativePage, EachDeviceShowsItsKindAndOnlyThisMachinePlaysHere) {
    SignIn();
    Push(Track());
    struct Case {
        std::vector<testsupport::Device> devices;
        std::vector<QString> icons;
        QString playing;  // the second line of the active device
    };
    const Case cases[] = {
        {{{"desk", true, true, "Desk", "Computer"},
          {"phone", false, false, "Phone", "Smartphone"},
          {"box", false, false, "Kitchen", "Speaker"}},
         {"device", "phone", "speaker"},
         "Playing here"},
        {{{"desk", false, true, "Desk", "Computer"},
          {"phone", true, false, "Phone", "Smartphone"},
          {"tv", false, false, "Living room", "TV"}},
         {"device", "phone", "speaker"},
         "Playing"},
    };
    for (const auto& c : cases) {
        PushDevices(c.devices);
        ASSERT_TRUE(PumpUntil([&] { return Vm().SelectedPlaybackDevice() != nullptr; }));
        Click(Find("DevicePickerButton"));
        auto* list = Find("DeviceList");
        ASSERT_TRUE(Shows(list));
        for (int i = 0; i < static_cast<int>(c.devices.size()); ++i) {
            SCOPED_TRACE(c.devices[i].type);
            QQuickItem* entry = nullptr;
            QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, entry), Q_ARG(int, i));
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(IconName(entry), c.icons[i]);
            auto* playing = FindAll("DevicePlaying", entry).value(0);
            ASSERT_NE(playing, nullptr);
            EXPECT_EQ(Shows(playing), c.devices[i].active);
            if (c.devices[i].active) {
                EXPECT_EQ(playing->property("text").toString(), c.playing);
            }
        }
        Key(Qt::Key_Escape);
    }
}

TEST_F(NativePage, TheDevicePickerShowsWhereTheArrowKeysAre) {
    SignIn();
    Push(Track());
    PushDevices({{"desk", true, true, "Desk"}, {"phone", false, false, "Phone"}, {"tv", false, false, "TV"}});
    auto ringShown = [&] {
        auto* focused = window->activeFocusItem();
        auto* ring = focused ? FindAll("FocusRing", focused).value(0) : nullptr;
        return ring && Shows(ring);
    };
    // Opened with the mouse: no ring until an arrow key moves.
    Click(Find("DevicePickerButton"));
    ASSERT_TRUE(Shows(Find("DeviceList")));
    EXPECT_FALSE(ringShown());
    Key(Qt::Key_Down);
    EXPECT_EQ(AccessibleName(window->activeFocusItem()), "Phone");
    EXPECT_TRUE(ringShown());
    Key(Qt::Key_Escape);

    // Opened from the keyboard: the ring is on the device playing now, and follows the arrows.
    // The button has the focus back; the player tabs away and back to it, and presses it.
    ASSERT_EQ(window->activeFocusItem(), Find("DevicePickerButton"));
    Key(Qt::Key_Tab);
    Key(Qt::Key_Tab, Qt::ShiftModifier);
    Key(Qt::Key_Space);
    ASSERT_TRUE(Shows(Find("DeviceList")));
    EXPECT_EQ(AccessibleName(window->activeFocusItem()), "Desk");
    EXPECT_TRUE(ringShown());
    Key(Qt::Key_Down);
    Key(Qt::Key_Down);
    EXPECT_EQ(AccessibleName(window->activeFocusItem()), "TV");
    EXPECT_TRUE(ringShown());
}

TEST_F(NativePage, TheFocusRingOfStartListeningStandsOutFromItsAccentFill) {
    ASSERT_TRUE(PumpUntil([&] { return !FindAll("StartListeningButton").isEmpty(); }));
    auto* start = Find("StartListeningButton");
    const QImage before = Grab();
    for (int i = 0; i < 4 && window->activeFocusItem() != start; ++i) Key(Qt::Key_Tab);
    ASSERT_TRUE(start->property("visualFocus").toBool());
    const QImage after = Grab();
    // WCAG's contrast ratio of two colours.
    auto luminance = [](QColor c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    auto contrast = [&](QColor a, QColor b) {
        const double one = luminance(a), other = luminance(b);
        return (std::max(one, other) + 0.05) / (std::min(one, other) + 0.05);
    };
    // The ring is what the focus changed just below the button: it must stand out from what was there
    // before (the window) and from the button's own fill, so that it does not read as a bigger button.
    const QPoint edge = start->mapToScene(QPointF(start->width() / 2, start->height())).toPoint();
    const QColor fill = after.pixelColor(edge.x(), edge.y() - 4);
    int ringPixels = 0;
    for (int dy = 0; dy < 8; ++dy) {
        const QPoint at(edge.x(), edge.y() + dy);
        if (after.pixelColor(at) == before.pixelColor(at)) continue;
        ++ringPixels;
        EXPECT_GE(contrast(after.pixelColor(at), before.pixelColor(at)), 3.0) << dy;
        EXPECT_GE(contrast(after.pixelColor(at), fill), 2.0) << dy;
    }
    EXPECT_GE(ringPixels, 2);
}

TEST_F(NativePage, TheDesktopAppVanishingWhileTheFlyoutIsOpenLeavesAUsableWindow) {
    SignIn();
    Push(Track());
    PushDevices({{"desk", true, true, "This computer"}, {"phone", false, false, "Phone"}});
    Click(Find("DevicePickerButton"));
    ASSERT_TRUE(Shows(Find("DeviceList")));

    script->Close();
    ASSERT_TRUE(PumpUntil([&] { return !Vm().IsSignedIn(); }));
    EXPECT_FALSE(Vm().IsPlaybackDevicesFlyoutOpen());
    EXPECT_FALSE(Showing("DeviceList"));
    EXPECT_EQ(widget->sizes.back(), (std::pair<double, double>{480, 488}));
    EXPECT_EQ(window->size(), QSize(480, 488));
    auto* start = Find("StartListeningButton");
    ASSERT_TRUE(Shows(start));
    Click(start);
    EXPECT_EQ(widget->launches.back(), "corvana:open:minimized");
}

TEST_F(NativePage, KeyboardReachesEachEnabledControlAndPressesIt) {
    SignIn();
    PlaybackMessage state = Track();
    state.disallowed = {"disallow_skipping_prev"};
    Push(state);
    PushDevices({{"desk", true, true, "This computer"}});
    // Tab visits the controls in order, skipping the disabled Previous button.
    std::vector<std::string> visited;
    // The row's back arrow is disabled at its start.
    const std::vector<std::string> order{
        "ExpandButton", "Progress",     "LibraryButton",      "ShuffleButton",    "PlayPauseButton",
        "NextButton",   "RepeatButton", "DevicePickerButton", "RowScrollForward", "FeedTile"};
    for (size_t i = 0; i < order.size(); ++i) {
        Key(Qt::Key_Tab);
        auto* focused = window->activeFocusItem();
        visited.push_back(focused ? focused->objectName().toStdString() : "");
    }
    EXPECT_EQ(visited, order);
    // The visible focus mark follows.
    ASSERT_TRUE(TabTo("PlayPauseButton", Qt::ShiftModifier));
    EXPECT_TRUE(window->activeFocusItem()->property("visualFocus").toBool());

    for (int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(key);
        script->ClearRequests();
        Key(key);
        ASSERT_TRUE(script->WaitForRequests(1));
        EXPECT_EQ(Methods(), std::vector<std::string>{"playback_pause"});
    }

    // The progress bar moves with the arrow keys, and repeat goes on with Space.
    ASSERT_TRUE(TabTo("Progress", Qt::ShiftModifier));
    script->ClearRequests();
    Key(Qt::Key_Right);
    ASSERT_TRUE(script->WaitForRequests(1));
    EXPECT_EQ(Methods(), std::vector<std::string>{"playback_seek"});
    ASSERT_TRUE(TabTo("RepeatButton"));
    script->ClearRequests();
    Key(Qt::Key_Space);
    ASSERT_TRUE(script->WaitForRequests(1));
    EXPECT_EQ(Methods(), std::vector<std::string>{"playback_repeat"});
}

TEST_F(NativePage, ClosingTheDevicePickerFromTheKeyboardGivesFocusBackToItsButton) {
    SignIn();
    Push(Track());
    PushDevices({{"desk", true, true, "This computer"}, {"phone", false, false, "Phone"}});
    auto* button = Find("DevicePickerButton");
    // Escape closes it; Return and Space choose a device, which closes it too.
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space}) {
        SCOPED_TRACE(key);
        button->forceActiveFocus(Qt::TabFocusReason);
        Key(Qt::Key_Space);
        ASSERT_TRUE(Showing("DeviceList"));
        Key(key);
        EXPECT_FALSE(Showing("DeviceList"));
        EXPECT_EQ(window->activeFocusItem(), button);
    }
}

TEST_F(NativePage, TextsFromOutsideShowLiterallyAndLoadNothing) {
    feed[0].items[0].name = "<b>x</b>";
    feed[0].items[1].name = "<img src=https://example.invalid/x.png>";
    SignIn();
    PlaybackMessage state = Track();
    state.name = "<i>Neon</i> &amp; <u>more</u>";
    Push(state);
    EXPECT_EQ(Text("TrackTitle"), "<i>Neon</i> &amp; <u>more</u>");
    QStringList names;
    for (auto* name : FindAll("TileName")) names << name->property("text").toString();
    EXPECT_TRUE(names.contains("<b>x</b>"));
    EXPECT_TRUE(names.contains("<img src=https://example.invalid/x.png>"));
    // Every text of the page is plain: nothing it shows is read as markup.
    std::function<void(QQuickItem*)> checkPlain = [&](QQuickItem* item) {
        if (item->inherits("QQuickText")) {
            EXPECT_EQ(item->property("textFormat").toInt(), 0)
                << item->property("text").toString().toStdString();
        }
        for (auto* child : item->childItems()) checkPlain(child);
    };
    checkPlain(window->contentItem());
}

TEST_F(NativePage, ACoverThatFailsToLoadShowsThePlaceholder) {
    SignIn();
    Push(Track());
    auto* cover = Find("NowPlayingCover");
    ASSERT_TRUE(PumpUntil([&] { return cover->property("loaded").toBool(); }));
    PlaybackMessage broken = Track();
    broken.image = CoverServer::Instance().MissingUrl();
    Push(broken);
    // The old track's picture goes once the new one has failed, and the placeholder shows instead.
    ASSERT_TRUE(PumpUntil([&] { return !cover->property("loaded").toBool(); }));
    EXPECT_EQ(Grab().isNull(), false);
}

TEST_F(NativePage, ACoverLoadCancelledOrDroppedEndsOnceAndQuietly) {
    static std::atomic<int> failedTwice{0};
    failedTwice = 0;
    QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            if (text.contains("must only be called once")) ++failedTwice;
        });
    const platform::HttpClient network;
    const QUrl refused("http://127.0.0.1:9/cover.png");  // covers come over HTTPS only
    const QUrl missing(QString::fromStdString(CoverServer::Instance().MissingUrl()));
    int finished = 0;
    std::vector<velmora::CoverImageResponse*> kept;
    for (const QUrl& url : {refused, missing}) {
        for (int i = 0; i < 20; ++i) {
            // Cancelled at once (a newer state came), dropped at once (the page went), or left to end.
            auto* response = new velmora::CoverImageResponse(network, nullptr, url, "rounded", 64);
            QObject::connect(response, &QQuickImageResponse::finished, [&finished] { ++finished; });
            if (i % 3 == 0) response->cancel();
            if (i % 3 == 1) {
                delete response;
            } else {
                kept.push_back(response);
            }
        }
    }
    EXPECT_TRUE(PumpUntil([&] { return finished >= static_cast<int>(kept.size()); }));
    Pump();
    qInstallMessageHandler(previous);
    EXPECT_EQ(failedTwice, 0);
    EXPECT_EQ(finished, static_cast<int>(kept.size()));  // each once
    for (auto* response : kept) EXPECT_FALSE(response->errorString().isEmpty());
    qDeleteAll(kept);
}

TEST_F(NativePage, APlayerAloneShowsItsTrackAndItsLocalCoverOnlyWhileThatCoverIsTheStates) {
    testsupport::TempDir dir;
    ASSERT_EQ(testsupport::RunToEnd(
                  {"/usr/bin/python3", VELMORA_SOURCE_DIR "/scripts/make-cover.py", dir / "cover.png"})
                  .status,
              0);
    ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);
    script->Push("login_state_subscription", platform::ValueSet{{"logged_in", platform::Value(true)},
                                                                {"web_account", platform::Value(false)}});
    PlaybackMessage track = Track();
    track.uri = "mpris:mpv:/0";
    track.context = std::nullopt;
    track.image = "file://" + (dir / "cover.png");
    Push(track);
    auto* cover = Find("NowPlayingCover");
    ASSERT_NE(cover, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return cover->property("loaded").toBool(); }));
    EXPECT_TRUE(Showing("TrackTitle"));
    EXPECT_TRUE(Find("PlayPauseButton")->isEnabled());
    EXPECT_FALSE(Showing("FeedScrollViewer"));
    EXPECT_FALSE(Showing("LibraryButton"));
    EXPECT_FALSE(Showing("ExpandButton"));
    EXPECT_FALSE(Showing("SignedOutView"));

    // A FIFO named as the cover: the placeholder, and the page goes on (no read waits on it).
    track.image = "file://" + (dir / "fifo.png");
    Push(track);
    ASSERT_TRUE(PumpUntil(
        [&] { return !cover->property("loaded").toBool() && !cover->property("fading").toBool(); }));

    // The file of a state gone by is no longer read, whoever asks.
    auto grant = std::make_shared<utils::LocalCoverGrant>();
    grant->Follow("file://" + (dir / "cover.png"));
    grant->Follow("https://images.example/next.png");
    auto* response = new velmora::CoverImageResponse(
        platform::HttpClient(), grant, QUrl::fromLocalFile(QString::fromStdString(dir / "cover.png")),
        "rounded", 64);
    bool finished = false;
    QObject::connect(response, &QQuickImageResponse::finished, [&finished] { finished = true; });
    ASSERT_TRUE(PumpUntil([&] { return finished; }));
    EXPECT_EQ(response->errorString(), "not the playing cover");
    delete response;
}

TEST_F(NativePage, PinnedOnlyShowsTheNowPlayingBlockAtTheChosenOpacityInAWindowOfItsSize) {
    SignIn();
    Push(Track());
    ASSERT_TRUE(Showing("FeedScrollViewer"));
    widget->ChangeOpacity(0.6);
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::PinnedOnly);
    Pump();
    EXPECT_FALSE(Showing("FeedScrollViewer"));
    EXPECT_FALSE(Showing("PlayPauseButton"));
    EXPECT_TRUE(Showing("TrackTitle"));
    EXPECT_TRUE(Showing("PinnedCorvanaLogo"));
    EXPECT_DOUBLE_EQ(Find("SignedInView")->opacity(), 0.6);
    // The window is the block and its padding, nothing more; no edge resizes it.
    auto* block = Find("NowPlaying");
    const double padding = block->mapToScene(QPointF(0, 0)).y();
    EXPECT_EQ(padding, 12);
    EXPECT_EQ(window->size(), QSize(320, static_cast<int>(block->height() + 2 * padding)));
    EXPECT_EQ(widget->horizontalResize, false);
    EXPECT_EQ(widget->verticalResize, false);

    // Unpinned, the window takes the size of the expanded state back, expanded or collapsed.
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::Foreground);
    Pump();
    EXPECT_TRUE(Showing("FeedScrollViewer"));
    EXPECT_FALSE(Showing("PinnedCorvanaLogo"));
    EXPECT_DOUBLE_EQ(Find("SignedInView")->opacity(), 1);
    EXPECT_EQ(window->size(), QSize(320, 612));
    Click(Find("ExpandButton"));
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::PinnedOnly);
    Pump();
    EXPECT_EQ(window->size().height(), static_cast<int>(block->height() + 2 * padding));
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::Foreground);
    Pump();
    EXPECT_EQ(window->size(), QSize(320, 194));

    // Signed out, the window keeps the signed-out size, pinned or not.
    script->Push("login_state_subscription", platform::ValueSet{{"logged_in", platform::Value(false)}});
    ASSERT_TRUE(PumpUntil([&] { return !Vm().IsSignedIn(); }));
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::PinnedOnly);
    Pump();
    EXPECT_EQ(window->size(), QSize(480, 488));
}

TEST_F(NativePage, ExpandingShowsTheFeedFromItsTop) {
    SignIn();
    Push(Track());
    auto* feed = Find("FeedScrollViewer");
    feed->setProperty("contentY", 200);
    Click(Find("ExpandButton"));
    EXPECT_FALSE(Vm().IsExpanded());
    EXPECT_EQ(window->size(), QSize(320, 194));
    EXPECT_FALSE(Shows(feed));

    Click(Find("ExpandButton"));
    EXPECT_TRUE(Vm().IsExpanded());
    EXPECT_EQ(window->size(), QSize(320, 612));
    EXPECT_TRUE(Shows(feed));
    EXPECT_EQ(feed->property("contentY").toDouble(), feed->property("originY").toDouble());
}

TEST_F(NativePage, TheFeedFadesIntoTheBottomEdgeOnlyWhileMoreIsBelow) {
    SignIn();
    Push(Track());
    auto* feed = Find("FeedScrollViewer");
    ASSERT_TRUE(PumpUntil([&] { return feed->property("contentHeight").toDouble() > feed->height(); }));
    auto* fade = Find("FeedFade");
    EXPECT_TRUE(Shows(fade));
    // It lies over the feed's last pixels, up to the window's bottom edge.
    EXPECT_EQ(fade->mapToScene(QPointF(0, fade->height())).y(), window->height());
    // As far as the wheel goes: the list's own positionViewAtEnd stops short of its bottom margin.
    feed->setProperty("contentY", feed->property("originY").toDouble() +
                                      feed->property("contentHeight").toDouble() - feed->height() +
                                      feed->property("bottomMargin").toDouble());
    ASSERT_TRUE(PumpUntil([&] { return feed->property("atYEnd").toBool(); }));
    EXPECT_FALSE(Shows(fade));
}

TEST_F(NativePage, CollapsedTheBlockHasAsMuchRoomAboveAsBelow) {
    SignIn();
    Push(Track());
    Click(Find("ExpandButton"));
    ASSERT_EQ(window->size(), QSize(320, 194));
    auto* block = Find("NowPlaying");
    const double above = block->mapToScene(QPointF(0, 0)).y();
    const double below = window->height() - block->mapToScene(QPointF(0, block->height())).y();
    EXPECT_LE(std::abs(above - below), 1) << above << " above, " << below << " below";
}

TEST_F(NativePage, TheCoverDecodesAtItsShownHeight) {
    EXPECT_EQ(Vm().CurrentlyPlayingTrackImageDecodeHeight(), Find("NowPlayingCover")->height());
    page->OnCoverSizeChanged(0);
    EXPECT_EQ(Vm().CurrentlyPlayingTrackImageDecodeHeight(), Find("NowPlayingCover")->height());
    page->OnCoverSizeChanged(96.7);
    EXPECT_EQ(Vm().CurrentlyPlayingTrackImageDecodeHeight(), 96);
}

TEST_F(NativePage, TeardownBeforeSignInCompletesLoadsNoFeed) {
    account->hold = true;
    ReportLogin();
    ASSERT_TRUE(PumpUntil([&] { return account->TokenRequests() == 1; }));
    page->Shutdown();
    account->Release();
    Pump();
    EXPECT_EQ(feedLoads, 0);
    EXPECT_FALSE(Vm().IsSignedIn());
}

class NativePageWithoutWidget : public testsupport::PageFixture {};

TEST_F(NativePageWithoutWidget, ANavigationParameterThatIsNoWidgetLeavesTheSpinner) {
    testsupport::LogCapture log;
    CreatePage(std::any(42));
    EXPECT_TRUE(Vm().ShowSpinner());
    EXPECT_TRUE(Shows(Find("Spinner")));
    EXPECT_FALSE(Shows(Find("StartListeningButton")));
    EXPECT_TRUE(widget->sizes.empty());
    std::vector<std::string> errors;
    for (const auto& line : log.Lines()) {
        if (line.rfind("ERROR", 0) == 0) errors.push_back(line);
    }
    EXPECT_EQ(errors.size(), 1u) << (errors.empty() ? "" : errors.front());
}

TEST_F(NativePage, ConverterMisuseInTheMarkupIsAReportedBindingError) {
    QList<QQmlError> reported;
    QObject::connect(&engine, &QQmlEngine::warnings,
                     [&](const QList<QQmlError>& errors) { reported << errors; });
    QQmlComponent component(&engine);
    component.setData(R"(
import QtQuick
import Velmora
Item {
    property var value: "Neon"
    visible: Converters.NullToVisibilityConverter(value)
    property string narrator: Converters.ResourceStringConverter("", "CorvanaNext_ButtonNarratorText")
}
)",
                      QUrl("qrc:/tests/ConverterUse.qml"));
    std::unique_ptr<QObject> item(component.create());
    ASSERT_NE(item, nullptr) << component.errorString().toStdString();
    EXPECT_TRUE(item->property("visible").toBool());
    EXPECT_EQ(item->property("narrator").toString(), "Next");
    item->setProperty("value", "");
    EXPECT_FALSE(item->property("visible").toBool());
    EXPECT_TRUE(reported.isEmpty());

    item->setProperty("value", 5);
    // While the engine is still building something (the page's views) it reports binding errors once that
    // is done.
    ASSERT_TRUE(PumpUntil([&] { return !reported.isEmpty(); }));
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported.front().description().contains("NullToVisibilityConverter"))
        << reported.front().toString().toStdString();
    EXPECT_FALSE(item->property("visible").toBool()) << "the binding keeps its last value";
}
