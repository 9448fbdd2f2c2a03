#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <thread>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Storage/ApplicationData.h"
#include "Platform/Storage/FileLock.h"
#include "Platform/Storage/LocalSettings.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHelpers.h"

using namespace platform;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(ApplicationData, FoldersFollowTheXdgVariablesAndTheirDefaults) {
    ScopedEnv home("HOME", "/home/player");
    {
        ScopedEnv data("XDG_DATA_HOME", "/data/x");
        ScopedEnv cache("XDG_CACHE_HOME", "/cache/y/");
        EXPECT_EQ(ApplicationData::Current().LocalFolder(), "/data/x/velmora");
        EXPECT_EQ(ApplicationData::Current().LocalCacheFolder(), "/cache/y/velmora");
    }
    {
        // Unset, empty or relative values fall back to the defaults under $HOME.
        ScopedEnv data("XDG_DATA_HOME", "relative/path");
        ScopedEnv cache("XDG_CACHE_HOME", "");
        EXPECT_EQ(ApplicationData::Current().LocalFolder(), "/home/player/.local/share/velmora");
        EXPECT_EQ(ApplicationData::Current().LocalCacheFolder(), "/home/player/.cache/velmora");
    }
    {
        // Without HOME, the user's home from the password database: never a folder under /tmp that
        // another user could have made first.
        ScopedEnv noHome("HOME", nullptr);
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ASSERT_FALSE(platform::HomeFolder().empty());
        EXPECT_EQ(ApplicationData::Current().LocalFolder(), platform::HomeFolder() + "/.local/share/velmora");
    }
}

TEST(LocalSettings, KeepsEveryKindAcrossInstances) {
    TempDir dir;
    std::string path = dir / "local/settings.json";
    {
        LocalSettings settings(path);
        EXPECT_TRUE(settings.Insert("CorvanaWidgetExpanded", Value(true)));
        EXPECT_TRUE(settings.Insert("count", Value(int32_t{3})));
        EXPECT_TRUE(settings.Insert("ratio", Value(3.0)));
        // JSON has no such numbers: they must not make the file unreadable.
        EXPECT_TRUE(settings.Insert("nan", Value(std::numeric_limits<double>::quiet_NaN())));
        EXPECT_TRUE(settings.Insert("above", Value(std::numeric_limits<double>::infinity())));
        EXPECT_TRUE(settings.Insert("below", Value(-std::numeric_limits<double>::infinity())));
        EXPECT_TRUE(settings.Insert("name", Value("héllo")));
        EXPECT_TRUE(settings.Insert("list", Value(std::vector<std::string>{"a", "b"})));
        EXPECT_TRUE(settings.Insert("set", Value(ValueSet{{"k", Value(int32_t{1})}})));
        EXPECT_TRUE(settings.Insert("count", Value(int32_t{4})));  // replace
    }
    LocalSettings reopened(path);
    EXPECT_TRUE(reopened.Lookup("CorvanaWidgetExpanded")->AsBoolean());
    EXPECT_EQ(reopened.Lookup("count")->AsInt32(), 4);
    EXPECT_EQ(reopened.Lookup("ratio")->Kind(), ValueKind::Double);
    EXPECT_TRUE(std::isnan(reopened.Lookup("nan")->AsDouble()));
    EXPECT_EQ(reopened.Lookup("above")->AsDouble(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(reopened.Lookup("below")->AsDouble(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(reopened.Lookup("name")->AsString(), "héllo");
    EXPECT_EQ(reopened.Lookup("list")->AsStringArray().size(), 2u);
    EXPECT_EQ(reopened.Lookup("set")->AsValueSet().Lookup("k").AsInt32(), 1);
    EXPECT_FALSE(reopened.Lookup("absent").has_value());
    EXPECT_TRUE(reopened.Remove("count"));
    EXPECT_FALSE(LocalSettings(path).HasKey("count"));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(LocalSettings, CorruptFileReadsAsEmptyIsReportedAndIsKeptAside) {
    TempDir dir;
    std::string path = dir / "settings.json";
    for (std::string garbage :
         {"{not json", "[1,2,3]", R"({"k":{"type":"int32","value":"x"}})", "\xff\xfe",
          // A value of another kind than its entry says is no value of that kind.
          R"({"k":{"type":"int32","value":true}})", R"({"k":{"type":"int32","value":1.5}})",
          R"({"k":{"type":"int32","value":1e20}})", R"({"k":{"type":"int32","value":2147483648}})",
          R"({"k":{"type":"boolean","value":1}})", R"({"k":{"type":"double","value":"x"}})",
          R"({"k":{"type":"strings","value":["a",1]}})"}) {
        WriteFile(path, garbage);
        LocalSettings settings(path);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(settings.Lookup("k").has_value());
        std::string report = testing::internal::GetCapturedStderr();
        EXPECT_NE(report.find("LocalSettings"), std::string::npos) << garbage;

        testing::internal::CaptureStderr();
        EXPECT_TRUE(settings.Insert("k", Value(int32_t{1})));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(settings.Lookup("k")->AsInt32(), 1);
        EXPECT_EQ(ReadFile(path + ".corrupt"), garbage);
        std::filesystem::remove(path + ".corrupt");
    }
}

TEST(LocalSettings, ConcurrentWritersOfDifferentKeysLoseNoUpdateAndReadersNeverSeeHalfAFile) {
    TempDir dir;
    std::string path = dir / "settings.json";
    LocalSettings first(path);
    LocalSettings second(path);  // a second object on the same file, as another process would have
    std::atomic<bool> writing{true};

    testing::internal::CaptureStderr();
    std::thread reader([&] {
        LocalSettings observer(path);
        while (writing) {
            observer.Values();
        }
    });
    std::thread a([&] {
        for (int i = 0; i < 100; ++i) first.Insert("a" + std::to_string(i), Value(int32_t{i}));
    });
    std::thread b([&] {
        for (int i = 0; i < 100; ++i) second.Insert("b" + std::to_string(i), Value(int32_t{i}));
    });
    a.join();
    b.join();
    writing = false;
    reader.join();
    std::string reports = testing::internal::GetCapturedStderr();
    EXPECT_EQ(reports, "");

    ValueSet values = LocalSettings(path).Values();
    EXPECT_EQ(values.Size(), 200u);
    EXPECT_EQ(values.Lookup("a99").AsInt32(), 99);
    EXPECT_EQ(values.Lookup("b0").AsInt32(), 0);
}

TEST(FileLock, OneHolderAtATimeEvenWithinAProcessAndTheFolderIsMadePrivate) {
    TempDir dir;
    const std::string path = dir / "Corvana/user.lock";
    FileLock first(path);
    FileLock second(path);
    ASSERT_TRUE(first.TryLock());
    EXPECT_TRUE(first.TryLock());  // already held
    EXPECT_FALSE(second.TryLock());
    EXPECT_FALSE(second.IsHeld());
    first.Unlock();
    EXPECT_TRUE(second.TryLock());
    EXPECT_EQ(std::filesystem::status(dir / "Corvana").permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    FileLock unusable(dir / "Corvana/user.lock/inside-a-file.lock");
    EXPECT_THROW(unusable.TryLock(), PlatformError);
}
