#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/Storage/LocalSettings.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "Velmora/Native/ViewModels/CorvanaWidgetViewModel.h"
#include "tests/Velmora/Native/ViewModelTestSupport.h"
#include "tests/support/FakeDesktopConnection.h"
#include "tests/support/TempDir.h"

namespace testsupport {

// A playback-state message as the desktop app pushes it; the defaults are a playing track with a context.
struct PlaybackMessage {
    std::optional<std::string> uri = "corvana:track:t1";  // none: no track
    std::string name = "Song";
    std::string artist = "Artist";
    std::string album = "Album";
    std::string image = "https://images.example/t1.jpg";
    bool advertisement = false;
    bool inLibrary = false;
    bool canAdd = true;
    std::optional<std::string> context = "corvana:playlist:p1";
    bool active = true;
    bool paused = false;
    bool shuffle = false;
    std::string repeat = "off";
    std::optional<double> volume;  // a fraction
    std::optional<int32_t> position = 30000;
    std::optional<int32_t> duration = 200000;
    std::optional<double> speed;
    std::string timestamp = "0";
    std::vector<std::string> disallowed;  // restriction keys set to true

    platform::ValueSet ToValueSet() const;
};

struct Device {
    std::string id;
    bool active = false;
    bool self = false;
    std::string name = {};  // "Device <id>" when empty
    std::string type = "Computer";
};
platform::ValueSet Cluster(const std::vector<Device>& devices);

// The resource keys the view models look up.
inline constexpr const char* kViewModelStringKeys[] = {"CorvanaPlay_ButtonNarratorText",
                                                       "CorvanaPause_ButtonNarratorText",
                                                       "CorvanaAddToLibrary_ButtonNarratorText",
                                                       "CorvanaRemoveFromLibrary_ButtonNarratorNext",
                                                       "CorvanaEnableShuffle_ButtonNarratorText",
                                                       "CorvanaDisableShuffle_ButtonNarratorText",
                                                       "CorvanaAdvertisementText",
                                                       "CollapseWidget_ButtonNarratorText",
                                                       "ExpandWidget_ButtonNarratorText",
                                                       "CorvanaRepeatOff_ButtonNarratorText",
                                                       "CorvanaRepeatContext_ButtonNarratorText",
                                                       "CorvanaRepeatTrack_ButtonNarratorText"};

// Resource strings for tests: every key maps to "[key]".
QString Text(const std::string& key);
void UseTestStrings();

// A widget view model on a pumped UI thread, over a real controller on the fake desktop connection, with
// a widget double, a token double, a canned feed and a settings file of its own.
class WidgetFixture : public testing::Test {
protected:
    WidgetFixture();
    ~WidgetFixture() override;

    // What the fixture's view model was made with: the canned feed, the settings file, a fast progress timer.
    velmora::CorvanaWidgetViewModel::Services Services();
    void Pump() { ui->RunPending(); }
    void Push(const PlaybackMessage& message);
    void PushDevices(const std::vector<Device>& devices);
    void RegisterAndSignIn();
    std::vector<std::string> Methods() { return script->Methods(); }
    platform::ValueSet LastParams(const std::string& method);

    std::shared_ptr<platform::ManualDispatcher> ui = platform::ManualDispatcher::Create();
    std::shared_ptr<FakeDesktopConnection::Script> script = std::make_shared<FakeDesktopConnection::Script>();
    std::shared_ptr<utils::DesktopAPIController> controller;
    std::shared_ptr<FakeAccessTokens> tokens = std::make_shared<FakeAccessTokens>("token-1");
    std::vector<utils::corvana_client::HomeSection> feed = Feed(2, 3);
    std::vector<std::string> feedTokens;
    std::set<std::string> refusedTokens;  // the feed answers these with 401
    TempDir dir;
    platform::LocalSettings settings{dir / "settings.json"};
    std::shared_ptr<FakeGameBarWidget> widget = std::make_shared<FakeGameBarWidget>();
    std::shared_ptr<velmora::CorvanaWidgetViewModel> vm;
    std::unique_ptr<NotificationLog> log;
};

}  // namespace testsupport
