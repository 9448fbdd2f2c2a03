#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "VelmoraUtils/Logger.h"
#include "tests/support/TempDir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

std::string LogDirectory(const TempDir& base) {
    return base / "Corvana/XboxGameBar";
}

std::vector<std::string> SessionFiles(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

const std::regex kLinePattern(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] \[(INFO|ERROR)\] : (.*))");

// While >= 0: how many more directory entries readdir returns before it fails with EIO.
std::atomic<int> failReaddirAfter{-1};

}  // namespace

// The standard library lists directories through readdir; this stands in for it so that a listing can
// break off part way, as it does when the disk fails or the folder is on a network that goes away.
extern "C" struct dirent* readdir(DIR* directory) {
    using Readdir = struct dirent* (*)(DIR*);
    static const auto next = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
    int left = failReaddirAfter.load();
    if (left == 0) {
        errno = EIO;
        return nullptr;
    }
    if (left > 0) failReaddirAfter = left - 1;
    return next(directory);
}

TEST(Logger, WritesNoFileBeforeInitialize) {
    TempDir base;
    utils::Logger logger;
    testing::internal::CaptureStderr();
    logger.Log("INFO", "DesktopAPIController: early line");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "DesktopAPIController: early line\n");
    EXPECT_FALSE(logger.IsFileOpen());
    EXPECT_TRUE(fs::is_empty(base.path()));
}

TEST(Logger, FileStartsWithTheSessionHeaderThenOneLinePerMessage) {
    TempDir base;
    utils::Logger logger;
    logger.Initialize(base.path());
    logger.Initialize(base.path() + "/elsewhere");  // a second call changes nothing
    testing::internal::CaptureStderr();
    logger.Log("INFO", "Connected");
    logger.LogError("TokenManager: GetAuthCodeAsync failed");
    testing::internal::GetCapturedStderr();

    auto files = SessionFiles(LogDirectory(base));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(logs_\d{4}-\d{2}-\d{2}_\d{6}\.log)"))) << files[0];
    EXPECT_FALSE(fs::exists(base / "elsewhere"));

    auto lines = Lines(ReadFile(LogDirectory(base) + "/" + files[0]));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "");
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(R"(--- Session started \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} ---)")))
        << lines[1];
    EXPECT_EQ(lines[2], "");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[3], match, kLinePattern)) << lines[3];
    EXPECT_EQ(match[1], "INFO");
    EXPECT_EQ(match[2], "Connected");
    ASSERT_TRUE(std::regex_match(lines[4], match, kLinePattern)) << lines[4];
    EXPECT_EQ(match[1], "ERROR");
    EXPECT_EQ(match[2], "TokenManager: GetAuthCodeAsync failed");
}

TEST(Logger, KeepsTheTenNewestSessionsAndLeavesOtherEntriesAlone) {
    TempDir base;
    std::string directory = LogDirectory(base);
    std::vector<std::string> old;
    for (int i = 0; i < 12; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "logs_2020-01-%02d_120000.log", i + 1);
        old.push_back(name);
        WriteFile(directory + "/" + name, "old");
    }
    for (int i = 0; i < 12; ++i) {
        WriteFile(directory + "/LOGS_2020-01-" + std::to_string(10 + i) + "_120000.log", "upper case");
        WriteFile(directory + "/logs_2020-02-" + std::to_string(10 + i) + "_120000.txt", "other extension");
    }
    // A folder that fits the pattern and sorts newest of all must neither be deleted nor count.
    fs::create_directories(directory + "/logs_2099-01-01_000000.log");

    utils::Logger logger;
    logger.Initialize(base.path());

    auto remaining = SessionFiles(directory);
    std::set<std::string> names(remaining.begin(), remaining.end());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(names.count(old[i]), 0u) << old[i] << " should be gone";
    for (int i = 3; i < 12; ++i) EXPECT_EQ(names.count(old[i]), 1u) << old[i] << " should stay";
    EXPECT_EQ(names.count(fs::path(logger.FilePath()).filename().string()), 1u);
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.starts_with("LOGS_"); }),
              12);
    EXPECT_EQ(
        std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.ends_with(".txt"); }),
        12);
    EXPECT_TRUE(fs::is_directory(directory + "/logs_2099-01-01_000000.log"));
}

TEST(Logger, ASessionNeverTakesOverAnotherProcesssFileAndOnlyTheUserMayReadIt) {
    TempDir base;
    std::string directory = LogDirectory(base);
    // Another process opened its sessions this second and the next two: whatever second this one opens in,
    // its name is taken.
    std::vector<std::string> taken;
    std::time_t now = std::time(nullptr);
    for (int second = 0; second < 3; ++second) {
        std::time_t at = now + second;
        std::tm local{};
        localtime_r(&at, &local);
        char name[64];
        std::strftime(name, sizeof name, "logs_%Y-%m-%d_%H%M%S.log", &local);
        taken.push_back(directory + "/" + name);
        WriteFile(taken.back(), "another process's line\n");
    }

    utils::Logger logger;
    logger.Initialize(base.path());
    ASSERT_TRUE(logger.IsFileOpen());
    testing::internal::CaptureStderr();
    logger.Log("INFO", "ours");
    testing::internal::GetCapturedStderr();

    for (const auto& path : taken) EXPECT_EQ(ReadFile(path), "another process's line\n") << path;
    const std::string name = fs::path(logger.FilePath()).filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(logs_\d{4}-\d{2}-\d{2}_\d{6}_02\.log)"))) << name;
    EXPECT_NE(ReadFile(logger.FilePath()).find("] [INFO] : ours\n"), std::string::npos);
    struct stat status {};
    ASSERT_EQ(::stat(logger.FilePath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(Logger, AListingThatBreaksOffDeletesNothingAndNeverThrows) {
    TempDir base;
    std::string directory = LogDirectory(base);
    for (int i = 0; i < 12; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "logs_2020-01-%02d_120000.log", i + 1);
        WriteFile(directory + "/" + name, "old");
    }
    utils::Logger logger;
    testing::internal::CaptureStderr();
    failReaddirAfter = 3;
    EXPECT_NO_THROW(logger.Initialize(base.path()));
    failReaddirAfter = -1;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Logger: failed to iterate log directory\n");
    EXPECT_TRUE(logger.IsFileOpen());
    EXPECT_EQ(SessionFiles(directory).size(), 13u);
    EXPECT_EQ(Lines(ReadFile(logger.FilePath())).size(), 3u);  // the header was still written
}

TEST(Logger, LinesFromManyThreadsStayWhole) {
    TempDir base;
    utils::Logger logger;
    logger.Initialize(base.path());
    constexpr int kThreads = 8;
    constexpr int kLines = 1000;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < kLines; ++i) {
                logger.Log("INFO", "thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                                       std::string(40, static_cast<char>('a' + t)));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    testing::internal::GetCapturedStderr();

    auto lines = Lines(ReadFile(logger.FilePath()));
    ASSERT_EQ(lines.size(), 3u + kThreads * kLines);
    std::vector<int> perThread(kThreads, 0);
    const std::regex body(R"(thread (\d) line (\d+) ([a-h])\3{39})");
    for (size_t i = 3; i < lines.size(); ++i) {
        std::smatch line, parts;
        ASSERT_TRUE(std::regex_match(lines[i], line, kLinePattern)) << lines[i];
        std::string message = line[2];
        ASSERT_TRUE(std::regex_match(message, parts, body)) << message;
        ++perThread[std::stoi(parts[1])];
    }
    for (int count : perThread) EXPECT_EQ(count, kLines);
}

TEST(Logger, NonLatinTextIsWrittenWholeAndTheFileGoesOn) {
    TempDir base;
    utils::Logger logger;
    logger.Initialize(base.path());
    testing::internal::CaptureStderr();
    logger.Log("INFO", "Now playing: 夜に駆ける – YOASOBI 🎵");
    logger.Log("INFO", "after");
    testing::internal::GetCapturedStderr();
    std::string text = ReadFile(logger.FilePath());
    EXPECT_NE(text.find("Now playing: 夜に駆ける – YOASOBI 🎵\n"), std::string::npos);
    EXPECT_NE(text.find("] [INFO] : after\n"), std::string::npos);
}

TEST(Logger, ReportsAFolderThatCannotBeCreatedAndStaysClosed) {
    TempDir base;
    WriteFile(base / "Corvana", "a file where the folder should be");
    utils::Logger logger;
    testing::internal::CaptureStderr();
    logger.Initialize(base.path());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Logger: failed to create log directory\n");
    EXPECT_FALSE(logger.IsFileOpen());
    // A later call with a usable folder opens the file.
    logger.Initialize(base / "usable");
    EXPECT_TRUE(logger.IsFileOpen());
}
