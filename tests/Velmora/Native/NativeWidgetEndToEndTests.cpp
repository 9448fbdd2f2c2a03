// The native widget against corvana-sim on a private bus, with its tokens in a real keyring and the feed
// and covers over HTTPS: first through the real shell entry in this process (so the test can press the
// page's controls), then as the installed program runs, `velmora ms-gamebarwidget:launch`.
#include <gtest/gtest.h>

#include <signal.h>

#include <QtQuickTest/quicktest.h>
#include <QQuickWindow>
#include <QTest>
#include <QTimer>
#include <nlohmann/json.hpp>
#include <thread>

#include "Velmora/FrontEnd.h"
#include "Velmora/Native/CorvanaWidgetNative.h"
#include "Velmora/PageTypes.h"
#include "Velmora/RunVelmora.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono_literals;
using nlohmann::json;
using velmora::CorvanaWidgetNative;

namespace {

constexpr int kWaitMs = 20000;

QQuickItem* FindItem(QQuickItem* under, const QString& objectName) {
    if (!under) return nullptr;
    if (under->objectName() == objectName && under->isVisible()) return under;
    for (auto* child : under->childItems()) {
        if (auto* found = FindItem(child, objectName)) return found;
    }
    return nullptr;
}

void Click(QQuickItem* item) {
    ASSERT_NE(item, nullptr);
    // Lists and positioners place their items at the next polish.
    if (QQuickTest::qIsPolishScheduled(item->window())) QQuickTest::qWaitForPolish(item->window());
    QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

json Ctl(const std::string& command) {
    auto run = testsupport::RunCtl({command});
    EXPECT_EQ(run.status, 0) << command;
    return run.status == 0 ? json::parse(run.output) : json();
}

// What the simulator plays, as velmora-ctl status reports it.
bool Paused() {
    return Ctl("status").value("is_paused", false);
}
std::string Context() {
    json context = Ctl("status")["context"];
    return context.is_string() ? context.get<std::string>() : "";
}
std::string ActiveDevice() {
    return Ctl("devices").value("active_device_id", "");
}

int TokenRequests(testsupport::SimulatorProcess& sim, const std::string& grant) {
    return sim.Counters()["token_requests"].value(grant, 0);
}

}  // namespace

TEST(NativeWidgetEndToEnd, SignsInShowsWhatPlaysAndEveryControlReachesTheDesktopApp) {
    testsupport::SimulatorProcess sim({"--user", "native-e2e"});
    sim.PointWidgetAtIt();
    testsupport::LogCapture log;

    // The first launch, through the real shell with the native front end, in this process. The shell owns
    // the page; the test only looks at it.
    std::weak_ptr<CorvanaWidgetNative> shown;
    velmora::FrontEnd native{velmora::kNativePageType,
                             [&](const platform::PageContext& context) {
                                 auto made = CorvanaWidgetNative::Factory()(context);
                                 shown = std::dynamic_pointer_cast<CorvanaWidgetNative>(made);
                                 return made;
                             },
                             {}};
    bool stepsDone = false;
    QTimer::singleShot(0, [&] {
        std::shared_ptr<CorvanaWidgetNative> page;
        auto steps = [&] {
            ASSERT_TRUE(QTest::qWaitFor([&] { return (page = shown.lock()) != nullptr; }, kWaitMs));
            auto& vm = *page->ViewModel();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    return vm.IsSignedIn() && vm.Categories() && vm.Categories()->Count() == 4 &&
                           !vm.CurrentlyPlayingTrack().isEmpty() && vm.PlaybackDevices()->Count() == 3;
                },
                kWaitMs));
            QQuickItem* root = page->Item();
            EXPECT_EQ(TokenRequests(sim, "authorization_code"), 1);
            EXPECT_EQ(TokenRequests(sim, "refresh_token"), 0);
            // The first sign-in logs its missing refresh token as an error; from here on nothing may.
            log.Clear();
            EXPECT_EQ(root->window()->size(), QSize(320, 612));
            ASSERT_TRUE(QTest::qWaitFor([&] { return FindItem(root, "RowTitle") != nullptr; }, kWaitMs));
            EXPECT_EQ(FindItem(root, "RowTitle")->property("text").toString(), "Game on");
            EXPECT_EQ(FindItem(root, "TrackTitle")->property("text").toString(), vm.CurrentlyPlayingTrack());

            // Play/pause pauses the desktop app, and its pushed state comes back to the button.
            ASSERT_TRUE(vm.IsPlaying());
            Click(FindItem(root, "PlayPauseButton"));
            ASSERT_TRUE(QTest::qWaitFor([&] { return !vm.IsPlaying(); }, kWaitMs));
            EXPECT_TRUE(Paused());

            // A feed tile plays its context.
            QQuickItem* tiles = FindItem(root, "RowTiles");
            QQuickItem* tile = nullptr;
            QMetaObject::invokeMethod(tiles, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, tile), Q_ARG(int, 1));
            Click(tile);
            ASSERT_TRUE(QTest::qWaitFor([&] { return vm.IsPlaying(); }, kWaitMs));
            EXPECT_EQ(Context(), "corvana:playlist:9Xs1BossFight");

            // The device picker moves playback to the phone.
            Click(FindItem(root, "DevicePickerButton"));
            ASSERT_TRUE(QTest::qWaitFor([&] { return FindItem(root->window()->contentItem(), "DeviceList"); },
                                        kWaitMs));
            QQuickItem* list = FindItem(root->window()->contentItem(), "DeviceList");
            QQuickItem* phone = nullptr;
            for (int i = 0; i < list->property("count").toInt() && !phone; ++i) {
                QQuickItem* entry = nullptr;
                QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, entry),
                                          Q_ARG(int, i));
                auto* device = entry ? entry->property("modelData").value<QObject*>() : nullptr;
                if (device && device->property("Id").toString() == "sim-phone") phone = entry;
            }
            Click(phone);
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    return vm.SelectedPlaybackDevice() && vm.SelectedPlaybackDevice()->Id() == "sim-phone";
                },
                kWaitMs));
            EXPECT_EQ(ActiveDevice(), "sim-phone");
            stepsDone = true;
        };
        steps();
        // Closing the window ends the run, as the host's close does.
        QQuickWindow* window = page ? page->Item()->window() : nullptr;
        page.reset();
        if (window) window->close();
    });
    char program[] = "velmora";
    char uri[] = "ms-gamebarwidget:launch";
    char* argv[] = {program, uri, nullptr};
    EXPECT_EQ(velmora::RunVelmora(2, argv, {native}, {}), 0);
    EXPECT_TRUE(stepsDone);
    EXPECT_TRUE(shown.expired());
    for (const auto& line : log.Lines()) EXPECT_NE(line.rfind("ERROR", 0), 0u) << line;

    // The second launch, as the desktop starts it: signed in by refresh, then closed by the host.
    testsupport::ChildProcess velmora({"/bin/sh", "-c", "exec \"$0\" ms-gamebarwidget:launch 2>&1",
                                       testsupport::BuildOutput("Velmora/velmora")});
    std::vector<std::string> lines;
    for (;;) {
        std::string line = velmora.WaitForLine("", 20s);
        std::string all;
        for (const auto& earlier : lines) all += earlier + "\n";
        ASSERT_FALSE(line.empty()) << "no feed load; output so far:\n" << all;
        lines.push_back(line);
        if (line.find("FetchHome - fetching partner home feed") != std::string::npos) break;
    }
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (sim.Counters().value("feed_requests", 0) < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(TokenRequests(sim, "authorization_code"), 1);
    EXPECT_EQ(TokenRequests(sim, "refresh_token"), 1);
    EXPECT_EQ(sim.Counters().value("feed_requests", 0), 2);
    velmora.Signal(SIGTERM);
    EXPECT_EQ(velmora.Wait(10s), 0);
    std::string rest = velmora.ReadAll(1s);
    for (size_t start = 0, end; start < rest.size(); start = end + 1) {
        end = rest.find('\n', start);
        if (end == std::string::npos) end = rest.size();
        lines.push_back(rest.substr(start, end - start));
    }
    // Failures are reported as "file(line) tid(..) CODE message" and named "... failed".
    for (const auto& line : lines) {
        EXPECT_EQ(line.find(" tid("), std::string::npos) << line;
        EXPECT_EQ(line.find("failed"), std::string::npos) << line;
    }
}
