// Pictures of the page's main states, for a person to look at: <build>/screenshots/native-*.png. Each is
// checked for its size and for showing more than the background.
#include <gtest/gtest.h>

#include <QTest>
#include <iostream>

#include "Velmora/Native/ViewModels/ConvertedPlaybackState.h"
#include "tests/Velmora/Native/PageFixture.h"

using testsupport::CoverServer;
using testsupport::PlaybackMessage;

namespace {

class NativePageScreenshots : public testsupport::PageFixture {
protected:
    static PlaybackMessage Playing(std::string uri, std::string name, std::string artist, std::string album,
                                   std::string cover) {
        PlaybackMessage state;
        state.uri = std::move(uri);
        state.name = std::move(name);
        state.artist = std::move(artist);
        state.album = std::move(album);
        state.image = CoverServer::Instance().Url(cover);
        state.position = 71000;
        state.duration = 184000;
        state.timestamp = std::to_string(velmora::ConvertedPlaybackState::NowMs());
        return state;
    }

    // Saves the window as native-<name>.png and checks what it holds.
    void Shot(const std::string& name, QSize size) {
        std::string path = SaveScreenshot("native-" + name);
        std::cout << "screenshot " << path << "\n";
        QImage image(QString::fromStdString(path));
        EXPECT_EQ(image.size(), size) << name;
        // More than a flat background: the page drew something legible on it.
        QColor corner = image.pixelColor(image.width() / 2, image.height() - 4);
        int differing = 0;
        for (int y = 0; y < image.height(); y += 4) {
            for (int x = 0; x < image.width(); x += 4) {
                QColor pixel = image.pixelColor(x, y);
                if (std::abs(pixel.lightness() - corner.lightness()) > 60) ++differing;
            }
        }
        EXPECT_GT(differing, 50) << name << " looks empty";
    }
};

}  // namespace

TEST_F(NativePageScreenshots, MainStates) {
    CreatePage();
    Shot("signed-out", {480, 488});
    ASSERT_TRUE(TabTo("StartListeningButton"));
    Shot("signed-out-focus", {480, 488});

    SignIn();
    Push(Playing("corvana:track:neon", "Neon Boss Fight", "Pixel Orchestra", "Final Stage", "final-stage"));
    PushDevices({{"desk", true, true, "This computer"},
                 {"phone", false, false, "Ada's phone", "Smartphone"},
                 {"speaker", false, false, "Living room speaker with a name far too long to fit the flyout",
                  "Speaker"}});
    Shot("playing-expanded", {320, 612});

    Push(Playing("corvana:episode:speedrun", "Speedrunning the Classics", "", "Game Talk Weekly",
                 "game-talk"));
    Shot("episode", {320, 612});

    PlaybackMessage ad = Playing("corvana:ad:1", "Corvana Premium", "Corvana", "", "premium");
    ad.advertisement = true;
    ad.canAdd = false;
    Push(ad);
    Shot("advertisement", {320, 612});

    PlaybackMessage saved =
        Playing("corvana:track:respawn", "Respawn", "The Checkpoints", "Save Points", "save-points");
    saved.inLibrary = true;
    saved.shuffle = true;
    saved.repeat = "context";
    saved.volume = 0.65;
    Push(saved);
    Click(Find("ExpandButton"));
    Shot("collapsed", {320, 194});

    Click(Find("DevicePickerButton"));
    Shot("device-picker-collapsed", {320, 194});
    Key(Qt::Key_Escape);
    Click(Find("ExpandButton"));
    Click(Find("DevicePickerButton"));
    Shot("device-picker-expanded", {320, 612});
    Key(Qt::Key_Down);
    Shot("device-picker-keyboard", {320, 612});
    // The volume from the keyboard: Tab past the devices, then the arrows.
    ASSERT_TRUE(TabTo("VolumeSlider"));
    Key(Qt::Key_Left);
    Shot("device-picker-volume", {320, 612});
    Key(Qt::Key_Escape);

    // Repeat one, and the progress bar being dragged: the thumb and the elapsed time follow the pointer.
    saved.repeat = "track";
    Push(saved);
    ASSERT_TRUE(PumpUntil([&] { return Vm().RepeatIcon() == "repeat-track"; }));
    QQuickItem* bar = Find("Progress");
    const QPointF at = bar->mapToScene(QPointF(bar->width() * 0.8, bar->height() / 2));
    QTest::mousePress(window.get(), Qt::LeftButton, Qt::NoModifier, at.toPoint());
    Pump();
    Shot("seek-dragging", {320, 612});
    QTest::mouseRelease(window.get(), Qt::LeftButton, Qt::NoModifier, at.toPoint());
    Pump();

    // Two hundred devices, the one playing far down: the picker opens there.
    std::vector<testsupport::Device> many;
    for (int i = 0; i < 200; ++i) many.push_back({"d" + std::to_string(i), i == 150, false});
    PushDevices(many);
    ASSERT_TRUE(PumpUntil([&] { return Vm().SelectedPlaybackDevice() != nullptr; }));
    Click(Find("DevicePickerButton"));
    Shot("device-picker-200", {320, 612});
    Key(Qt::Key_Escape);

    // Keyboard focus on play/pause.
    ASSERT_TRUE(TabTo("PlayPauseButton"));
    Shot("keyboard-focus", {320, 612});

    // Pinned at a low opacity: the window shrinks to the now-playing block.
    widget->ChangeOpacity(0.3);
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::PinnedOnly);
    host->setProperty("pinnedOnly", true);
    host->setProperty("requestedOpacity", 0.3);
    Pump();
    Click(Find("SignedInView"));  // nothing to press there: the pinned page ignores it
    Pump();
    Shot("pinned-only", {320, 108});
}
