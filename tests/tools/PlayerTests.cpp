#include <gtest/gtest.h>

#include "tools/corvana-sim/Player.h"

using namespace corvanasim;

namespace {

std::vector<CatalogItem> SmallQueue() {
    return {{"corvana:track:a", "A", "x", "y", "a", 10000},
            {"corvana:episode:b", "B", "show", "", "b", 20000},
            {"corvana:ad:c", "C", "", "", "c", 5000},
            {"corvana:track:d", "D", "x", "y", "d", 10000}};
}

struct Fixture {
    int64_t now = 1'000'000;
    Player player{SmallQueue(), [this] { return now; }};
    std::string Uri() { return player.View().item->uri; }
};

}  // namespace

TEST(SimPlayer, PositionMovesWithTheClockOnlyWhilePlaying) {
    Fixture f;
    f.now += 1500;
    EXPECT_EQ(f.player.View().positionMs, 1500);
    EXPECT_FALSE(f.player.Pause());
    f.now += 5000;
    EXPECT_EQ(f.player.View().positionMs, 1500);
    EXPECT_TRUE(f.player.Pause().has_value());  // already paused: a restriction
    EXPECT_FALSE(f.player.Resume());
    f.now += 500;
    EXPECT_EQ(f.player.View().positionMs, 2000);
}

TEST(SimPlayer, SeekingPastTheEndMovesOnAndRelativeSeeksClamp) {
    Fixture f;
    EXPECT_FALSE(f.player.Seek(-5000, true));
    EXPECT_EQ(f.player.View().positionMs, 0);
    EXPECT_FALSE(f.player.Seek(9000, false));
    EXPECT_EQ(f.player.View().positionMs, 9000);
    EXPECT_FALSE(f.player.Seek(60000, false));
    EXPECT_EQ(f.Uri(), "corvana:episode:b");
    EXPECT_EQ(f.player.View().positionMs, 0);
}

TEST(SimPlayer, RestrictionsFollowTheItem) {
    Fixture f;
    f.player.Next();
    auto episode = f.player.View();
    EXPECT_TRUE(episode.restrictions.togglingShuffle);
    EXPECT_TRUE(f.player.SetShuffle(true).has_value());
    f.player.Next();
    auto ad = f.player.View();
    EXPECT_TRUE(ad.item->isAdvertisement());
    EXPECT_TRUE(ad.restrictions.skippingNext && ad.restrictions.seeking);
    EXPECT_TRUE(f.player.Next().has_value());
    EXPECT_TRUE(f.player.Seek(100, false).has_value());
    // The advertisement ends on its own, and then skipping works again.
    f.now += 5000;
    EXPECT_TRUE(f.player.Tick());
    EXPECT_EQ(f.Uri(), "corvana:track:d");
    EXPECT_FALSE(f.player.View().restrictions.skippingNext);
}

TEST(SimPlayer, TheEndOfTheQueueStopsOrWrapsByRepeatAndRepeatTrackReplays) {
    Fixture f;
    f.player.Play("corvana:track:d");
    f.now += 10000;
    EXPECT_TRUE(f.player.Tick());
    EXPECT_EQ(f.Uri(), "corvana:track:a");
    EXPECT_TRUE(f.player.View().isPaused);  // repeat off: stopped at the top

    f.player.Play("corvana:track:d");
    f.player.SetRepeat("context");
    f.now += 10000;
    f.player.Tick();
    EXPECT_EQ(f.Uri(), "corvana:track:a");
    EXPECT_FALSE(f.player.View().isPaused);

    f.player.SetRepeat("track");
    f.now += 10000;
    f.player.Tick();
    EXPECT_EQ(f.Uri(), "corvana:track:a");
    EXPECT_EQ(f.player.View().positionMs, 0);
    EXPECT_TRUE(f.player.SetRepeat("sometimes").has_value());
}

TEST(SimPlayer, PreviousRestartsLateInAnItemAndGoesBackEarly) {
    Fixture f;
    f.player.Next();
    f.now += 4000;
    f.player.Previous();
    EXPECT_EQ(f.Uri(), "corvana:episode:b");
    EXPECT_EQ(f.player.View().positionMs, 0);
    f.now += 1000;
    f.player.Previous();
    EXPECT_EQ(f.Uri(), "corvana:track:a");
}

TEST(SimPlayer, LibraryVolumeAndTransfer) {
    Fixture f;
    EXPECT_FALSE(f.player.View().inCollection);
    f.player.LibraryAdd("corvana:track:a");
    EXPECT_TRUE(f.player.View().inCollection);
    f.player.LibraryRemove("corvana:track:a");
    EXPECT_FALSE(f.player.View().inCollection);
    EXPECT_TRUE(f.player.SetVolume(1.5).has_value());
    EXPECT_FALSE(f.player.SetVolume(0.25));
    EXPECT_EQ(f.player.Devices()[0].volume, 25);
    EXPECT_TRUE(f.player.ActiveDeviceIsLocal());
    EXPECT_FALSE(f.player.Transfer("sim-phone"));
    EXPECT_EQ(f.player.ActiveDeviceId(), "sim-phone");
    EXPECT_FALSE(f.player.ActiveDeviceIsLocal());
    EXPECT_TRUE(f.player.Transfer("nowhere").has_value());
}
