#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/GameBar/GameBarHost.h"
#include "Platform/GameBar/GameBarWidgetActivatedEventArgs.h"
#include "Platform/Ui/LaunchActivatedEventArgs.h"
#include "Velmora/App.h"

using namespace platform;
using velmora::App;

namespace {

// Says it is a protocol activation without being one.
class KindOnly final : public IActivatedEventArgs {
public:
    ActivationKind Kind() const override { return ActivationKind::Protocol; }
};

}  // namespace

TEST(ActivationFilter, OnlyAWidgetLaunchActivationPasses) {
    struct Case {
        const char* name;
        std::shared_ptr<IActivatedEventArgs> args;
        bool passes;
    };
    auto widget = [](std::string scheme, bool launch) {
        return std::make_shared<GameBarWidgetActivatedEventArgs>(scheme + ":launch", scheme, launch, nullptr);
    };
    const std::vector<Case> cases = {
        {"widget launch", widget("ms-gamebarwidget", true), true},
        {"widget re-activation", widget("ms-gamebarwidget", false), false},
        {"plain launch", std::make_shared<LaunchActivatedEventArgs>(), false},
        {"protocol kind without protocol arguments", std::make_shared<KindOnly>(), false},
        {"protocol activation that is no widget activation",
         std::make_shared<ProtocolActivatedEventArgs>("ms-gamebarwidget:launch", "ms-gamebarwidget"), false},
        {"scheme with a suffix", widget("ms-gamebarwidgetx", true), false},
        {"scheme that is a prefix", widget("ms-gamebarwidge", true), false},
        {"scheme in other letter case", widget("MS-GAMEBARWIDGET", true), false},
        {"scheme with a trailing blank", widget("ms-gamebarwidget ", true), false},
        {"empty scheme", widget("", true), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(App::WidgetLaunchOf(*c.args) != nullptr, c.passes) << c.name;
    }
}

TEST(ActivationFilter, TheHostMakesAWidgetLaunchOnlyForTheWidgetSchemeWithNoWindowShown) {
    struct Case {
        std::string uri;
        bool windowShown;
        bool passes;
    };
    const std::vector<Case> cases = {
        {"ms-gamebarwidget:launch", false, true},
        {"ms-gamebarwidget:launch", true, false},  // a re-activation
        {"ms-gamebarwidget://widget?x=1", false, true},
        {"MS-GameBarWidget:launch", false, true},  // schemes compare without regard to case
        {"ms-gamebarwidgetx:launch", false, false},
        {"ms-gamebarwidget-extra:launch", false, false},
        {"ms-gamebar:launch", false, false},
        {"https://example.com/ms-gamebarwidget:launch", false, false},
        {"corvana:open", false, false},
    };
    for (const auto& c : cases) {
        auto args = GameBarHost::ActivationFor(c.uri, c.windowShown, nullptr);
        ASSERT_TRUE(args) << c.uri;
        EXPECT_EQ(App::WidgetLaunchOf(*args) != nullptr, c.passes) << c.uri;
    }
    for (const std::string notAUri : {"", "launch", "ms-gamebarwidget", ":launch", "1x:launch"}) {
        EXPECT_FALSE(GameBarHost::ActivationFor(notAUri, false, nullptr)) << notAUri;
    }
}
