#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <functional>

#include "Platform/Storage/LocalSettings.h"
#include "Platform/Ui/FolderWatcher.h"
#include "tests/support/TempDir.h"

using platform::FolderWatcher;
using platform::LocalSettings;
using platform::Value;

// The settings' folder removed (by the player, a cleaner) and made anew by the next save: every save after
// that is seen, as is a save into a folder that did not exist when the watch began.
TEST(FolderWatcher, SeesSavesAfterTheFolderIsRemovedAndMadeAgain) {
    testsupport::TempDir dir;
    const std::string folder = dir / "data/velmora";
    LocalSettings settings(folder + "/settings.json");
    int changes = 0;
    FolderWatcher watcher(QString::fromStdString(folder), [&] { ++changes; });

    auto seenAfter = [&](const std::function<void()>& step) {
        const int before = changes;
        step();
        return QTest::qWaitFor([&] { return changes > before; }, 20000);
    };
    auto save = [&](int32_t value) {
        return [&settings, value] { ASSERT_TRUE(settings.Insert("k", Value(value))); };
    };
    auto remove = [](std::string path) { return [path] { std::filesystem::remove_all(path); }; };

    EXPECT_TRUE(seenAfter(save(1))) << "the first folder";
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(seenAfter(remove(folder))) << round;
        EXPECT_TRUE(seenAfter(save(2))) << round;
        // Watched again, not merely told once that it came back.
        EXPECT_TRUE(seenAfter(save(3))) << round;
    }
    // The folder above removed too.
    EXPECT_TRUE(seenAfter(remove(dir / "data")));
    EXPECT_TRUE(seenAfter(save(4)));
    EXPECT_TRUE(seenAfter(save(5)));
}
