// Local covers: which file a front end may show (only the current playback state's), and what of a file
// counts as a picture (its content, never its name), without waiting on FIFOs or devices.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "VelmoraUtils/LocalCoverGrant.h"
#include "VelmoraUtils/LocalImageFile.h"
#include "tests/support/TempDir.h"

using utils::LocalCoverGrant;
using utils::LocalImageFile;

namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(40, 'p');

}  // namespace

TEST(LocalCoverGrant, AFileUrlNamesAPathOfThisMachineOnly) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"file:///home/a/cover.png", "/home/a/cover.png"},
        {"FILE:///tmp/x.jpg", "/tmp/x.jpg"},
        {"file://localhost/tmp/x.jpg", "/tmp/x.jpg"},
        {"file:///tmp/a%20b%2Fc.png", "/tmp/a b/c.png"},
        {"file://otherhost/tmp/x.jpg", std::nullopt},
        {"file:/tmp/x.jpg", std::nullopt},
        {"file://", std::nullopt},
        {"file:///tmp/x.jpg?size=1", std::nullopt},
        {"file:///tmp/x%00.jpg", std::nullopt},
        {"file:///tmp/x%2", std::nullopt},
        {"file:///tmp/x%zz", std::nullopt},
        {"https://images.example/x.jpg", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [url, path] : cases) EXPECT_EQ(LocalCoverGrant::FilePathOf(url), path) << url;
}

TEST(LocalCoverGrant, OnlyTheCurrentStatesFileIsGrantedUntilTheStateMovesOn) {
    LocalCoverGrant grant;
    EXPECT_EQ(grant.PathOf(1), std::nullopt);
    const uint64_t first = grant.Follow("file:///covers/a%20b.png");
    ASSERT_NE(first, 0u);
    EXPECT_EQ(grant.PathOf(first), "/covers/a b.png");
    EXPECT_EQ(grant.PathOfUrl("file:///covers/a b.png"), "/covers/a b.png");  // spelt otherwise
    EXPECT_EQ(grant.PathOfUrl("file:///covers/other.png"), std::nullopt);
    EXPECT_EQ(grant.Follow("file:///covers/a%20b.png"), first);  // the same state pushed again

    const uint64_t second = grant.Follow("file:///covers/c.png");
    EXPECT_NE(second, first);
    EXPECT_EQ(grant.PathOf(first), std::nullopt);
    EXPECT_EQ(grant.PathOf(second), "/covers/c.png");

    EXPECT_EQ(grant.Follow("https://images.example/c.png"), 0u);
    EXPECT_EQ(grant.PathOf(second), std::nullopt);
    EXPECT_EQ(grant.PathOfUrl("file:///covers/c.png"), std::nullopt);
    EXPECT_NE(grant.Follow("file:///covers/c.png"), second);  // granted anew: a new number
}

TEST(LocalImageFile, OnlyRegularFilesWhosePicturesFitAreRead) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "cover.png", kPng);
    testsupport::WriteFile(dir / "cover.dat", "\xFF\xD8\xFF\xE0 a JPEG by its content");
    testsupport::WriteFile(dir / "notes.png", "not a picture, whatever its name");
    testsupport::WriteFile(dir / "empty.png", "");
    testsupport::WriteFile(dir / "big.png", kPng + std::string(200, 'x'));
    ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);  // no writer: an open that waited would hang
    ASSERT_EQ(::symlink("/proc/self/status", (dir / "link.png").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "folder.png").c_str(), 0700), 0);

    struct Case {
        std::string path;
        std::string type;  // empty: refused
    };
    const std::vector<Case> cases = {
        {dir / "cover.png", "image/png"},
        {dir / "cover.dat", "image/jpeg"},
        {dir / "notes.png", ""},
        {dir / "empty.png", ""},
        {dir / "big.png", ""},
        {dir / "fifo.png", ""},
        {dir / "link.png", ""},
        {dir / "folder.png", ""},
        {dir / "missing.png", ""},
        {"/proc/self/status", ""},
        {"/sys/kernel/uevent_seqnum", ""},
        {"/dev/zero", ""},
        {"/dev/null", ""},
        {"relative.png", ""},
    };
    for (const auto& c : cases) {
        std::string why;
        auto picture = LocalImageFile::Read(c.path, 100, &why);
        EXPECT_EQ(picture ? picture->mimeType : "", c.type) << c.path;
        if (picture) {
            EXPECT_EQ(picture->bytes, testsupport::ReadFile(c.path));
        } else {
            EXPECT_FALSE(why.empty()) << c.path;
        }
    }
}

TEST(LocalImageFile, TheKindIsTheContents) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {kPng, "image/png"},
        {"\xFF\xD8\xFF\xDB", "image/jpeg"},
        {"GIF89a....", "image/gif"},
        {"GIF87a....", "image/gif"},
        {"RIFF\x10\x01\x02\x03WEBPVP8 ", "image/webp"},
        {"RIFF\x10\x01\x02\x03WAVEfmt ", ""},
        {"<svg xmlns='http://www.w3.org/2000/svg'/>", ""},
        {"\x89PNG", ""},
        {"", ""},
    };
    for (const auto& [bytes, type] : cases) EXPECT_EQ(LocalImageFile::ImageTypeOf(bytes), type) << bytes;
}
