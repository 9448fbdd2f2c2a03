// The widget view model's commands, its registration with the widget window, sign-in, the feed load,
// the expanded state and the device list.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Velmora/Native/ViewModels/CorvanaItemViewModel.h"
#include "Velmora/Native/ViewModels/CorvanaViewCategoryViewModel.h"
#include "Velmora/Native/ViewModels/PlaybackPresentation.h"
#include "tests/Velmora/Native/WidgetFixture.h"
#include "tests/support/LogCapture.h"

using namespace velmora;
using testsupport::Device;
using testsupport::PlaybackMessage;
using testsupport::Text;
using Counts = std::map<std::string, int>;
using Sizes = std::vector<std::pair<double, double>>;

namespace {

class WidgetCommands : public testsupport::WidgetFixture {};

const QColor kActive(0x1D, 0xB9, 0x54);
const QColor kInactive(0xFF, 0xFF, 0xFF, 0xD8);

}  // namespace

TEST_F(WidgetCommands, RegistrationFollowsTheWindowOnceAndHidesTheSpinner) {
    widget->mode = platform::GameBarDisplayMode::PinnedOnly;
    testsupport::LogCapture lines;
    vm->RegisterForWidgetEvents(widget);
    auto second = std::make_shared<testsupport::FakeGameBarWidget>();
    vm->RegisterForWidgetEvents(second);
    Pump();
    EXPECT_EQ(widget->sizes, (Sizes{{480, 488}}));
    EXPECT_FALSE(vm->ShowSpinner());
    EXPECT_TRUE(vm->IsPinnedOnly());
    EXPECT_DOUBLE_EQ(vm->Opacity(), 0.8);
    EXPECT_EQ(log->Counts(), (Counts{{"ShowSpinner", 1}, {"IsPinnedOnly", 1}, {"Opacity", 1}}));
    EXPECT_EQ(lines.Count("INFO RegisterForWidgetEvents: _widget already set"), 1u);

    widget->ChangeOpacity(0.4);
    second->ChangeOpacity(0.9);  // not the registered window
    EXPECT_DOUBLE_EQ(vm->Opacity(), 0.4);
    EXPECT_TRUE(second->sizes.empty());
}

TEST_F(WidgetCommands, SignInLoadsTheFeedAppliesTheExpandedStateAndAsksForState) {
    RegisterAndSignIn();
    EXPECT_TRUE(vm->IsSignedIn());
    EXPECT_EQ(feedTokens, std::vector<std::string>{"token-1"});
    ASSERT_EQ(vm->Categories()->Count(), 2);
    auto row = vm->Categories()->At<CorvanaViewCategoryViewModel>(1);
    EXPECT_EQ(row->Name(), "Row 1");
    EXPECT_EQ(row->Items()->At<CorvanaItemViewModel>(2)->Description(), "Owner 1-2");
    EXPECT_EQ(Methods(), (std::vector<std::string>{"playback_state_request", "connect_cluster"}));

    EXPECT_TRUE(vm->IsExpanded());
    EXPECT_EQ(vm->ExpandButtonGlyph(), QString(QChar(presentation::kCollapseGlyph)));
    EXPECT_EQ(vm->ExpandCollapseNarratorText(), Text("CollapseWidget_ButtonNarratorText"));
    EXPECT_TRUE(vm->IsScrollBarEnabled());
    EXPECT_EQ(widget->sizes, (Sizes{{480, 488}, {320, 612}}));
    EXPECT_EQ(widget->verticalResize, true);
    EXPECT_EQ(settings.Lookup("CorvanaWidgetExpanded"), platform::Value(true));  // missing, so written back
    EXPECT_EQ(log->Count("Categories"), 1);
    EXPECT_EQ(log->Count("IsSignedIn"), 1);
    EXPECT_TRUE(log->AllOnUiThreadWithValue());
}

TEST_F(WidgetCommands, TheTokenIsReadWithoutHoldingUpTheUiThread) {
    tokens->Hold();
    vm->RegisterForWidgetEvents(widget);
    vm->SetSignedIn(true);
    Push(PlaybackMessage{});
    Pump();
    EXPECT_EQ(vm->CurrentlyPlayingTrack(), "Song");  // the UI thread went on while the read was out
    EXPECT_EQ(vm->Categories(), nullptr);
    std::thread([&] { tokens->Release(); }).join();
    ASSERT_TRUE(ui->RunUntil([&] { return vm->Categories() != nullptr; }));
}

TEST_F(WidgetCommands, WithoutATokenTheFeedIsNotLoaded) {
    tokens->SetToken(std::nullopt);
    testsupport::LogCapture lines;
    vm->RegisterForWidgetEvents(widget);
    vm->SetSignedIn(true);
    ASSERT_TRUE(lines.WaitFor("ERROR CorvanaWidgetViewModel::FetchHome - no auth token available"));
    Pump();
    EXPECT_TRUE(feedTokens.empty());
    EXPECT_EQ(vm->Categories(), nullptr);
    EXPECT_EQ(widget->sizes, (Sizes{{480, 488}}));
}

TEST_F(WidgetCommands, SignOutWhileCollapsedThenSignInRestoresTheCollapsedSize) {
    RegisterAndSignIn();
    vm->SetIsExpanded(false);
    Pump();
    EXPECT_EQ(vm->ExpandButtonGlyph(), QString(QChar(presentation::kExpandGlyph)));
    EXPECT_EQ(vm->ExpandCollapseNarratorText(), Text("ExpandWidget_ButtonNarratorText"));
    EXPECT_FALSE(vm->IsScrollBarEnabled());
    EXPECT_EQ(widget->verticalResize, false);
    EXPECT_EQ(settings.Lookup("CorvanaWidgetExpanded"), platform::Value(false));

    Push(PlaybackMessage{});
    Pump();
    widget->sizes.clear();
    vm->SetSignedIn(false);
    Pump();
    EXPECT_FALSE(vm->IsSignedIn());
    EXPECT_EQ(vm->CorvanaActionsInfo(), CorvanaActionsInfo{});
    EXPECT_EQ(widget->sizes, (Sizes{{480, 488}}));

    vm->SetSignedIn(true);
    ASSERT_TRUE(ui->RunUntil([&] { return widget->sizes.size() == 2; }));
    EXPECT_EQ(widget->sizes.back(), (std::pair<double, double>{320, 194}));
}

TEST_F(WidgetCommands, TheStoredExpandedStateIsAppliedAfterTheFeedLoads) {
    settings.Insert("CorvanaWidgetExpanded", platform::Value(false));
    RegisterAndSignIn();
    EXPECT_FALSE(vm->IsExpanded());
    EXPECT_EQ(widget->sizes, (Sizes{{480, 488}, {320, 194}}));
    EXPECT_EQ(log->Count("IsExpanded"), 1);

    settings.Insert("CorvanaWidgetExpanded", platform::Value("not a flag"));
    vm->SetSignedIn(true);
    ASSERT_TRUE(ui->RunUntil([&] { return widget->sizes.size() == 3; }));
    EXPECT_FALSE(vm->IsExpanded());  // a value of another kind is ignored and replaced
    EXPECT_EQ(settings.Lookup("CorvanaWidgetExpanded"), platform::Value(false));
}

TEST_F(WidgetCommands, NoFeedIsShownAfterSignOutOrClosing) {
    vm->RegisterForWidgetEvents(widget);
    Pump();
    for (bool closing : {false, true}) {
        tokens->Hold();
        vm->SetSignedIn(true);
        if (closing) {
            vm->MarkClosing();
        } else {
            vm->SetSignedIn(false);
        }
        tokens->Release();
        Pump();
        EXPECT_EQ(vm->Categories(), nullptr) << closing;
    }
    script->ClearRequests();
    log->Clear();
    int reads = tokens->Reads();
    vm->SetSignedIn(true);  // after MarkClosing
    Pump();
    EXPECT_TRUE(Methods().empty());
    EXPECT_EQ(tokens->Reads(), reads);
    EXPECT_EQ(log->Counts(), Counts{});
}

TEST_F(WidgetCommands, AFeedLoadThatTheClosingPageCutsShortIsNoFailure) {
    vm->RegisterForWidgetEvents(widget);
    Pump();
    testsupport::LogCapture lines;
    tokens->Hold();
    vm->SetSignedIn(true);
    vm->MarkClosing();
    // The window has closed: its UI thread takes no more work, so the load cannot come back to it.
    ui->Shutdown();
    std::thread([&] { tokens->Release(); }).join();
    EXPECT_EQ(vm->Categories(), nullptr);
    for (const auto& line : lines.Lines()) {
        EXPECT_FALSE(line.rfind("ERROR", 0) == 0 && line.find("FetchHome") != std::string::npos) << line;
    }
}

struct FeedRetryCase {
    std::string name;
    std::optional<std::string> renewed;
    std::set<std::string> refused;
    std::vector<std::string> fetchedWith;
    bool shown;
};

// A widget of its own for each case, as each signs in afresh.
class FeedRetry : public testsupport::WidgetFixture {
public:
    void TestBody() override {}
    void Run(const FeedRetryCase& c) {
        tokens->SetRenewedToken(c.renewed);
        refusedTokens = c.refused;
        RegisterAndSignIn();
        EXPECT_EQ(feedTokens, c.fetchedWith);
        EXPECT_EQ(tokens->Rejected(), std::vector<std::string>{"token-1"});
        EXPECT_EQ(vm->Categories() != nullptr && vm->Categories()->Count() > 0, c.shown);
    }
};

TEST(WidgetFeed, ARefusedTokenIsRefreshedAndTheFeedAskedForOnceMore) {
    const FeedRetryCase cases[] = {
        {"the renewed token is taken", "token-2", {"token-1"}, {"token-1", "token-2"}, true},
        {"no renewed token: nothing more is asked", std::nullopt, {"token-1"}, {"token-1"}, false},
        {"the renewed token refused too: no third try",
         "token-2",
         {"token-1", "token-2"},
         {"token-1", "token-2"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FeedRetry().Run(c);
    }
}

TEST_F(WidgetCommands, PlaybackCommandsReachTheDesktopApp) {
    struct Case {
        const char* what;
        std::optional<PlaybackMessage> state;
        bool withFeed;
        std::function<void()> command;
        std::string method;
        platform::ValueSet params;
    };
    PlaybackMessage playing, paused, noContext;
    paused.paused = true;
    noContext.paused = true;
    noContext.context.reset();
    feed.insert(feed.begin(), {"An empty row first", {}});
    std::vector<Case> cases = {
        {"play/pause while playing", playing, false, [&] { vm->PlayPause(); }, "playback_pause", {}},
        {"play/pause while paused", paused, false, [&] { vm->PlayPause(); }, "playback_resume", {}},
        {"play/pause, nothing loaded, no feed",
         noContext,
         false,
         [&] { vm->PlayPause(); },
         "playback_resume",
         {}},
        {"play/pause, nothing loaded, a feed",
         noContext,
         true,
         [&] { vm->PlayPause(); },
         "playback_play",
         {{"context", platform::Value("corvana:playlist:0-0")}}},
        {"next", std::nullopt, false, [&] { vm->Next(); }, "playback_next", {}},
        {"previous", std::nullopt, false, [&] { vm->Previous(); }, "playback_previous", {}},
        {"skip back",
         std::nullopt,
         false,
         [&] { vm->SkipBack(); },
         "playback_seek",
         {{"position_ms", platform::Value(int32_t{-15000})}, {"is_relative", platform::Value(true)}}},
        {"skip ahead",
         std::nullopt,
         false,
         [&] { vm->SkipAhead(); },
         "playback_seek",
         {{"position_ms", platform::Value(int32_t{15000})}, {"is_relative", platform::Value(true)}}},
        {"shuffle",
         std::nullopt,
         false,
         [&] { vm->ToggleShuffle(); },
         "playback_shuffle",
         {{"shuffle", platform::Value(true)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vm->SetCategories(c.withFeed ? CorvanaWidgetViewModel::BuildCategories(feed, controller) : nullptr);
        if (c.state) Push(*c.state);
        Pump();
        script->ClearRequests();
        c.command();
        ASSERT_TRUE(script->WaitForRequests(1));
        auto request = script->Requests().at(0);
        EXPECT_EQ(request.method, c.method);
        EXPECT_EQ(request.params, c.params);
    }
}

TEST_F(WidgetCommands, LibraryCommandsNeedATrack) {
    vm->AddRemoveLibrary();
    EXPECT_TRUE(Methods().empty());
    for (bool inLibrary : {false, true}) {
        PlaybackMessage message;
        message.inLibrary = inLibrary;
        Push(message);
        Pump();
        script->ClearRequests();
        vm->AddRemoveLibrary();
        ASSERT_TRUE(script->WaitForRequests(1));
        EXPECT_EQ(Methods().at(0), inLibrary ? "library_remove" : "library_add");
        EXPECT_EQ(LastParams(Methods().at(0)).Lookup("uris").AsStringArray(),
                  std::vector<std::string>{"corvana:track:t1"});
    }
}

TEST_F(WidgetCommands, TheDeviceListSelectsTheActiveDeviceAndColoursThePicker) {
    struct Case {
        const char* what;
        std::vector<Device> devices;
        std::optional<size_t> selected;  // index in the list
        QColor brush;
    };
    std::vector<Case> cases = {
        {"this machine plays", {{"me", true, true}, {"tv"}}, 0, kInactive},
        {"another device plays", {{"me", false, true}, {"tv", true}}, 1, kActive},
        {"no device plays", {{"me", false, true}, {"tv"}}, std::nullopt, kInactive},
        {"no device plays, one without an id", {{""}, {"tv"}}, std::nullopt, kInactive},
        {"duplicate ids: the first with the active id", {{"tv"}, {"tv", true}}, 0, kActive},
        {"no devices", {}, std::nullopt, kInactive},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PushDevices(c.devices);
        Pump();
        EXPECT_EQ(vm->PlaybackDevices()->Count(), static_cast<int>(c.devices.size()));
        EXPECT_EQ(vm->EnablePlaybackDeviceSelectionButton(), !c.devices.empty());
        EXPECT_EQ(vm->PlaybackDeviceSelectionButtonBrush(), c.brush);
        if (c.selected) {
            EXPECT_EQ(vm->SelectedPlaybackDevice(), vm->PlaybackDevices()->Items().at(*c.selected));
        } else {
            EXPECT_EQ(vm->SelectedPlaybackDevice(), nullptr);
        }
    }
}

TEST_F(WidgetCommands, APlayerWithoutAnAccountShowsWhatPlaysAsItsRestrictionsAllowWithoutFeedOrLibrary) {
    using State = utils::TokenManager::SignInState;
    vm->RegisterForWidgetEvents(widget);
    Pump();
    vm->SetSignInState(State::PlayerOnly);
    Pump();
    EXPECT_TRUE(vm->ShowNowPlaying());
    EXPECT_TRUE(vm->IsPlayerOnly());
    EXPECT_FALSE(vm->IsSignedIn());
    EXPECT_FALSE(vm->ShowExpandButton());
    EXPECT_EQ(widget->sizes, (Sizes{{480, 488}, {320, 194}}));
    EXPECT_EQ(widget->horizontalResize, false);
    EXPECT_TRUE(feedTokens.empty());
    EXPECT_EQ(Methods(), (std::vector<std::string>{"playback_state_request", "connect_cluster"}));

    // A player has no context: its restrictions alone say what the controls may do.
    PlaybackMessage playing;
    playing.uri = "mpris:mpv:/track/1";
    playing.context = std::nullopt;
    playing.canAdd = true;
    playing.disallowed = {"disallow_skipping_prev"};
    Push(playing);
    Pump();
    EXPECT_TRUE(vm->CorvanaActionsInfo().CanPause);
    EXPECT_TRUE(vm->CorvanaActionsInfo().CanSkipNext);
    EXPECT_FALSE(vm->CorvanaActionsInfo().CanSkipPrevious);
    EXPECT_TRUE(vm->IsPlayPauseButtonEnabled());
    EXPECT_FALSE(vm->ShowAddRemoveLibraryButton());
    EXPECT_EQ(vm->CurrentlyPlayingTrack(), "Song");
    PlaybackMessage paused = playing;
    paused.paused = true;
    Push(paused);
    Pump();
    EXPECT_TRUE(vm->IsPlayPauseButtonEnabled());  // resumes the player, not the feed's first item
    vm->PlayPause();
    EXPECT_EQ(Methods().back(), "playback_resume");

    // The players are all of this desktop: the picker lists them, none "elsewhere".
    PushDevices({{"mpv", true}, {"vlc"}});
    Pump();
    EXPECT_EQ(vm->PlaybackDevices()->Count(), 2);
    EXPECT_EQ(vm->SelectedPlaybackDevice(), vm->PlaybackDevices()->Items().at(0));
    EXPECT_EQ(vm->PlaybackDeviceSelectionButtonBrush(), kInactive);

    // The last player gone: signed out, as with nothing to report.
    vm->SetSignInState(State::SignedOut);
    Pump();
    EXPECT_FALSE(vm->ShowNowPlaying());
    EXPECT_FALSE(vm->IsPlayerOnly());
    EXPECT_EQ(widget->sizes.back(), (std::pair<double, double>{480, 488}));
}

TEST_F(WidgetCommands, WhileSigningInWhatPlaysShowsAndTheFeedJoinsWithTheVerdict) {
    using State = utils::TokenManager::SignInState;
    vm->RegisterForWidgetEvents(widget);
    Pump();
    vm->SetSignInState(State::SigningIn);
    Pump();
    EXPECT_TRUE(vm->ShowNowPlaying());
    EXPECT_FALSE(vm->IsSignedIn());
    EXPECT_FALSE(vm->IsPlayerOnly());
    EXPECT_FALSE(vm->ShowSpinner());
    EXPECT_TRUE(feedTokens.empty());
    EXPECT_EQ(widget->sizes.back(), (std::pair<double, double>{320, 194}));
    Push(PlaybackMessage{});
    Pump();
    EXPECT_TRUE(vm->IsPlayPauseButtonEnabled());
    EXPECT_TRUE(vm->ShowAddRemoveLibraryButton());

    vm->SetSignInState(State::SignedIn);
    ASSERT_TRUE(ui->RunUntil([&] { return vm->Categories() != nullptr; }));
    Pump();
    EXPECT_TRUE(vm->IsSignedIn());
    EXPECT_TRUE(vm->ShowExpandButton());
    EXPECT_EQ(widget->sizes.back(), (std::pair<double, double>{320, 612}));

    // A login event while signed in keeps the feed and the size until its verdict.
    const auto sizes = widget->sizes;
    const auto categories = vm->Categories();
    vm->SetSignInState(State::SigningIn);
    Pump();
    EXPECT_TRUE(vm->IsSignedIn());
    EXPECT_EQ(vm->Categories(), categories);
    EXPECT_EQ(widget->sizes, sizes);
}

TEST_F(WidgetCommands, WhileAFailedSignInIsTriedAgainWhatPlaysStaysAndTheFeedJoinsWhenATryWorks) {
    using State = utils::TokenManager::SignInState;
    vm->RegisterForWidgetEvents(widget);
    Pump();
    vm->SetSignInState(State::SigningIn);
    Pump();
    Push(PlaybackMessage{});
    Pump();
    const auto sizes = widget->sizes;
    vm->SetSignInState(State::RetryingSignIn);
    Pump();
    EXPECT_TRUE(vm->ShowNowPlaying());
    EXPECT_FALSE(vm->IsSignedIn());
    EXPECT_FALSE(vm->ShowSpinner());
    EXPECT_TRUE(vm->IsPlayPauseButtonEnabled());
    EXPECT_EQ(widget->sizes, sizes);  // nothing moves
    EXPECT_TRUE(feedTokens.empty());

    vm->SetSignInState(State::SignedIn);
    ASSERT_TRUE(ui->RunUntil([&] { return vm->Categories() != nullptr; }));
    Pump();
    EXPECT_TRUE(vm->IsSignedIn());
    EXPECT_EQ(widget->sizes.back(), (std::pair<double, double>{320, 612}));

    // A later login event whose sign-in fails: the feed goes, what plays stays.
    vm->SetSignInState(State::SigningIn);
    vm->SetSignInState(State::RetryingSignIn);
    Pump();
    EXPECT_FALSE(vm->IsSignedIn());
    EXPECT_FALSE(vm->ShowExpandButton());
    EXPECT_TRUE(vm->ShowNowPlaying());
    EXPECT_TRUE(vm->IsPlayPauseButtonEnabled());
    EXPECT_EQ(widget->sizes.back(), (std::pair<double, double>{320, 194}));
}

TEST_F(WidgetCommands, DeviceListsApplyInArrivalOrderFromAnyThread) {
    // Two lists raised on the UI thread before it gets to either, then two from another thread.
    PushDevices({{"a", true}});
    PushDevices({{"a"}, {"b", true}});
    Pump();
    ASSERT_EQ(vm->PlaybackDevices()->Count(), 2);
    EXPECT_EQ(vm->SelectedPlaybackDevice()->Id(), "b");

    std::thread([&] {
        PushDevices({{"c", true}});
        PushDevices({{"d", true}, {"e"}, {"f"}});
    }).join();
    Pump();
    ASSERT_EQ(vm->PlaybackDevices()->Count(), 3);
    EXPECT_EQ(vm->SelectedPlaybackDevice()->Id(), "d");
}

TEST_F(WidgetCommands, ChoosingADeviceTransfersPlaybackAndClosesThePicker) {
    PushDevices({{"me", true, true}, {"tv"}});
    Pump();
    vm->SetIsPlaybackDevicesFlyoutOpen(true);
    auto tv = vm->PlaybackDevices()->Items().at(1);
    script->ClearRequests();
    vm->OnPlaybackDeviceClicked(tv.get());
    EXPECT_EQ(Methods(), std::vector<std::string>{"connect_transfer"});
    EXPECT_EQ(LastParams("connect_transfer").Lookup("device_id").AsString(), "tv");
    EXPECT_EQ(vm->SelectedPlaybackDevice(), tv);
    EXPECT_FALSE(vm->IsPlaybackDevicesFlyoutOpen());

    vm->SetIsPlaybackDevicesFlyoutOpen(true);
    vm->OnPlaybackDeviceClicked(vm.get());  // not a device: only closes the picker
    EXPECT_EQ(Methods().size(), 1u);
    EXPECT_FALSE(vm->IsPlaybackDevicesFlyoutOpen());
}

TEST_F(WidgetCommands, TheDesktopAppIsOpenedThroughTheWindow) {
    vm->RegisterForWidgetEvents(widget);
    vm->SetInErrorState(true);
    Pump();
    vm->OpenCorvanaMinimizedFromWidget();
    vm->OpenCorvana();
    vm->StartCorvana();
    Pump();
    EXPECT_EQ(widget->launches,
              (std::vector<std::string>{"corvana:open:minimized?utm_medium=desktop-xbox-game-bar",
                                        "corvana:open", "corvana:open:minimized"}));
    EXPECT_TRUE(vm->ShowSpinner());
    EXPECT_FALSE(vm->InErrorState());
    EXPECT_EQ(script->DisconnectCalls(), 1);  // the reconnect drops the channel first
}

TEST_F(WidgetCommands, StartingTheDesktopAppStopsWaitingForASignInAfterAWhile) {
    auto services = Services();
    services.startupWait = std::chrono::milliseconds(20);
    log.reset();
    vm = CorvanaWidgetViewModel::Create(controller, tokens, services);
    vm->RegisterForWidgetEvents(widget);
    Pump();

    // Nobody signs in: the buttons come back, with the error text.
    vm->StartCorvana();
    EXPECT_TRUE(vm->ShowSpinner());
    ASSERT_TRUE(ui->RunUntil([&] { return !vm->ShowSpinner(); }));
    EXPECT_TRUE(vm->InErrorState());

    // Signed in meanwhile: the spinner goes without an error, so a later sign-out shows the buttons.
    vm->StartCorvana();
    EXPECT_FALSE(vm->InErrorState());
    vm->SetSignedIn(true);
    ASSERT_TRUE(ui->RunUntil([&] { return !vm->ShowSpinner(); }));
    EXPECT_FALSE(vm->InErrorState());
}

TEST_F(WidgetCommands, ASignInEndsTheWaitOfStartListening) {
    auto services = Services();
    services.startupWait = std::chrono::hours(1);
    for (bool signOutAfter : {false, true}) {
        SCOPED_TRACE(signOutAfter ? "signed in, then out" : "signed in");
        log.reset();
        vm = CorvanaWidgetViewModel::Create(controller, tokens, services);
        vm->RegisterForWidgetEvents(widget);
        Pump();
        vm->StartCorvana();
        ASSERT_TRUE(vm->ShowSpinner());
        vm->SetSignedIn(true);
        if (signOutAfter) vm->SetSignedIn(false);
        Pump();
        // At once, not when the hour is up: the buttons of the signed-out view are there, with no error.
        EXPECT_FALSE(vm->ShowSpinner());
        EXPECT_FALSE(vm->InErrorState());
    }
}

TEST_F(WidgetCommands, AViewModelReleasedWithNotificationsQueuedGoesQuietly) {
    Push(PlaybackMessage{});
    PushDevices({{"tv", true}});
    EXPECT_GT(ui->PendingCount(), 0u);
    log.reset();
    vm.reset();
    Pump();
    Push(PlaybackMessage{});  // handlers are gone with the view model
    EXPECT_EQ(ui->PendingCount(), 0u);
}
