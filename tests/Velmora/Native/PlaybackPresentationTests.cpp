// The presentation rules of the now-playing block and the throttle of dragged values, on their own.
#include <gtest/gtest.h>

#include <vector>

#include "Velmora/Native/ViewModels/PlaybackPresentation.h"
#include "Velmora/Native/ViewModels/ValueThrottle.h"

using namespace velmora;
using presentation::Repeat;

TEST(PlaybackPresentation, RepeatGoesOnToTheNextModeTheRestrictionsAllow) {
    struct Case {
        Repeat mode;
        bool canContext;
        bool canTrack;
        std::optional<Repeat> next;
    };
    const std::vector<Case> cases{
        {Repeat::Off, true, true, Repeat::Context},
        {Repeat::Context, true, true, Repeat::Track},
        {Repeat::Track, true, true, Repeat::Off},
        // Repeat of the context locked: off goes straight to the track, and back.
        {Repeat::Off, false, true, Repeat::Track},
        {Repeat::Track, false, true, Repeat::Off},
        // Leaving the context for the track toggles both, so it needs both.
        {Repeat::Context, true, false, Repeat::Off},
        {Repeat::Context, false, true, std::nullopt},
        {Repeat::Off, true, false, Repeat::Context},
        {Repeat::Off, false, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.mode) << " " << c.canContext << c.canTrack);
        EXPECT_EQ(presentation::NextRepeat({c.mode, c.canContext, c.canTrack}), c.next);
        EXPECT_EQ(presentation::RepeatLook({c.mode, c.canContext, c.canTrack}).enabled, c.next.has_value());
    }
}

TEST(PlaybackPresentation, TimesReadAsMinutesAndSecondsAndHoursFromAnHourOn) {
    EXPECT_EQ(presentation::FormatTime(0), "0:00");
    EXPECT_EQ(presentation::FormatTime(71999), "1:11");
    EXPECT_EQ(presentation::FormatTime(3599000), "59:59");
    EXPECT_EQ(presentation::FormatTime(3600000 + 65000), "1:01:05");
    EXPECT_EQ(presentation::FormatTime(-5), "0:00");
    EXPECT_EQ(presentation::FormatTime(std::numeric_limits<double>::quiet_NaN()), "0:00");
}

namespace {

// The throttle under a clock the test moves, its wake-up run by hand.
struct ThrottleRig {
    std::chrono::steady_clock::time_point now{std::chrono::seconds(100)};
    std::optional<std::chrono::milliseconds> armed;
    std::vector<double> sent;
    ValueThrottle throttle{std::chrono::milliseconds(250), [this](double value) { sent.push_back(value); },
                           [this] { return now; },
                           [this](std::optional<std::chrono::milliseconds> delay) { armed = delay; }};

    void Advance(int ms) {
        now += std::chrono::milliseconds(ms);
        if (armed && *armed <= std::chrono::milliseconds(ms)) {
            armed.reset();
            throttle.Wake();
        } else if (armed) {
            *armed -= std::chrono::milliseconds(ms);
        }
    }
};

}  // namespace

TEST(ValueThrottle, ADragSendsAtMostFourASecondThenWhereItWasLetGo) {
    ThrottleRig rig;
    // A drag of one second, a value every 20 ms.
    for (int step = 0; step < 50; ++step) {
        rig.throttle.Update(step);
        rig.Advance(20);
    }
    // The first at once, then one each 250 ms with the newest value then.
    EXPECT_EQ(rig.sent, (std::vector<double>{0, 12, 25, 38}));
    rig.throttle.Finish(49);
    EXPECT_EQ(rig.sent.back(), 49);
    EXPECT_FALSE(rig.armed);
    // Nothing is left to go out later.
    rig.Advance(1000);
    EXPECT_EQ(rig.sent.size(), 5u);
}

TEST(ValueThrottle, AClickSendsOnceAndANewDragStartsAtOnce) {
    ThrottleRig rig;
    rig.throttle.Update(7);
    rig.throttle.Finish(7);
    EXPECT_EQ(rig.sent, std::vector<double>{7});
    rig.Advance(10);
    rig.throttle.Update(8);
    EXPECT_EQ(rig.sent, (std::vector<double>{7, 8}));
}
