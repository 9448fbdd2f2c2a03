// The widget view model driven by corvana-sim over a private session bus: a real desktop link, sign-in
// with the tokens in a real keyring, and the home feed over HTTPS.
#include <gtest/gtest.h>

#include "Velmora/Common/TokenManagerAccessTokenProvider.h"
#include "Velmora/Native/ViewModels/CorvanaViewCategoryViewModel.h"
#include "Velmora/Native/ViewModels/PlaybackPresentation.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "VelmoraUtils/TokenManager.h"
#include "tests/Velmora/Native/WidgetFixture.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono_literals;
using namespace velmora;

TEST(WidgetViewModelWithSimulator, SignsInShowsTheFeedAndFollowsTheDesktopApp) {
    testsupport::SimulatorProcess sim({"--user", "native-user"});
    sim.PointWidgetAtIt();
    testsupport::UseTestStrings();
    auto ui = platform::ManualDispatcher::Create();
    testsupport::TempDir dir;
    platform::LocalSettings settings(dir / "settings.json");

    // Wired as the native page wires it: the token manager's verdict goes to the view model.
    auto controller = utils::DesktopAPIController::Create(std::make_unique<utils::DesktopAPIConnection>(),
                                                          utils::WidgetMode::Native, 200ms);
    std::weak_ptr<CorvanaWidgetViewModel> signedInTarget;
    auto manager = utils::TokenManager::Create(
        controller, ui,
        [&](bool signedIn) {
            if (auto viewModel = signedInTarget.lock()) viewModel->SetSignedIn(signedIn);
        },
        "CorvanaWidgetNative");
    auto services = CorvanaWidgetViewModel::Services::Default();
    services.settings = &settings;
    auto vm = CorvanaWidgetViewModel::Create(
        controller, std::make_shared<TokenManagerAccessTokenProvider>(manager), services);
    signedInTarget = vm;
    auto widget = std::make_shared<testsupport::FakeGameBarWidget>();
    vm->RegisterForWidgetEvents(widget);
    auto connecting = controller->ConnectAsync();

    ASSERT_TRUE(ui->RunUntil(
        [&] {
            return vm->IsSignedIn() && vm->Categories() && !vm->CurrentlyPlayingTrack().isEmpty() &&
                   vm->PlaybackDevices()->Count() == 3;
        },
        30s));
    ASSERT_EQ(vm->Categories()->Count(), 4);
    for (const auto& entry : vm->Categories()->Items()) {
        auto category = std::dynamic_pointer_cast<CorvanaViewCategoryViewModel>(entry);
        ASSERT_NE(category, nullptr);
        EXPECT_FALSE(category->Name().isEmpty());
        EXPECT_GT(category->Items()->Count(), 0);
    }
    EXPECT_TRUE(vm->IsPlaying());
    EXPECT_NE(vm->ImageSource(), nullptr);
    EXPECT_EQ(widget->sizes.back(), (std::pair<double, double>{320, 612}));

    // A pause sent by another client comes back as a pushed state.
    ASSERT_EQ(testsupport::RunCtl({"pause"}).status, 0);
    ASSERT_TRUE(ui->RunUntil([&] { return !vm->IsPlaying(); }, 10s));
    EXPECT_EQ(vm->PlayPauseIcon(), QString(QChar(presentation::kPlayIcon)));

    // This machine plays at first; moving playback to the phone turns the picker active.
    ASSERT_NE(vm->SelectedPlaybackDevice(), nullptr);
    EXPECT_EQ(vm->SelectedPlaybackDevice()->Id(), "sim-desktop");
    EXPECT_EQ(vm->PlaybackDeviceSelectionButtonBrush(), QColor(0xFF, 0xFF, 0xFF, 0xD8));
    std::shared_ptr<framework::ViewModelBase> phone;
    for (const auto& device : vm->PlaybackDevices()->Items()) {
        if (std::static_pointer_cast<CorvanaPlaybackDeviceViewModel>(device)->Id() == "sim-phone")
            phone = device;
    }
    ASSERT_NE(phone, nullptr);
    vm->OnPlaybackDeviceClicked(phone.get());
    ASSERT_TRUE(ui->RunUntil([&] {
        return vm->PlaybackDeviceSelectionButtonBrush() == QColor(0x1D, 0xB9, 0x54) &&
               vm->SelectedPlaybackDevice()->Id() == "sim-phone";
    }));

    manager->Stop();
    vm->MarkClosing();
}
