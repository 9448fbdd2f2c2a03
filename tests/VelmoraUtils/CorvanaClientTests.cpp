#include <gtest/gtest.h>

#include "VelmoraUtils/CorvanaClient.h"

using utils::corvana_client::HomeSection;
using utils::corvana_client::ParseHomeFeed;

namespace {

std::string Feed(const std::string& rows) {
    return R"({"content":{"items":[)" + rows + "]}}";
}

}  // namespace

TEST(HomeFeed, RowsWithoutItemsAreDroppedAndNamelessRowsKept) {
    auto sections = ParseHomeFeed(Feed(R"(
        {"name":"Empty row","content":{"items":[]}},
        {"content":{"items":[{"name":"Song","type":"track","uri":"corvana:track:1"}]}},
        {"name":"No content"},
        {"name":"Only junk","content":{"items":[1,"x",null,[]]}},
        "not a row",
        {"name":"Kept","content":{"items":[{"name":"A"},{"name":"B"}]}})"));
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].name, "");
    EXPECT_EQ(sections[0].items.at(0).uri, "corvana:track:1");
    EXPECT_EQ(sections[1].name, "Kept");
    ASSERT_EQ(sections[1].items.size(), 2u);
    EXPECT_EQ(sections[1].items[1].name, "B");
}

TEST(HomeFeed, ItemFieldsFollowTheirPresenceRules) {
    auto sections = ParseHomeFeed(Feed(R"({"name":"Row","content":{"items":[
        {"name":"Album","type":"album","uri":"u1",
         "images":[{"width":64},{"url":"https://i/1"},{"url":7},{"url":"https://i/2"}],
         "album":{"images":[{"url":"https://a/1"}]},
         "artists":[{"name":"First"},{"name":"Second"},{"id":"no name"}],
         "owner":{"display_name":"Ada"},"show":{"name":"A Show"},"description":""},
        {"name":5,"type":null,"images":"nope","album":[],"owner":{"display_name":null},"show":"x",
         "description":null},
        {}]}})"));
    ASSERT_EQ(sections.size(), 1u);
    const auto& full = sections[0].items[0];
    EXPECT_EQ(full.images, (std::vector<std::string>{"https://i/1", "https://i/2"}));
    EXPECT_EQ(full.albumImages, std::vector<std::string>{"https://a/1"});
    EXPECT_EQ(full.artists, (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(full.ownerDisplayName, "Ada");
    EXPECT_EQ(full.showName, "A Show");
    ASSERT_TRUE(full.description.has_value());  // present, though empty
    EXPECT_EQ(*full.description, "");

    const auto& odd = sections[0].items[1];
    EXPECT_EQ(odd.name, "");
    EXPECT_EQ(odd.type, "");
    EXPECT_TRUE(odd.images.empty());
    EXPECT_TRUE(odd.albumImages.empty());
    EXPECT_FALSE(odd.ownerDisplayName.has_value());
    EXPECT_FALSE(odd.showName.has_value());
    EXPECT_FALSE(odd.description.has_value());
    EXPECT_EQ(sections[0].items.size(), 3u);  // an empty object is still an item
}

TEST(HomeFeed, MissingContainersGiveNoSections) {
    for (std::string body : {"{}", R"({"content":[]})", R"({"content":{"items":{}}})", R"({"content":{}})"}) {
        EXPECT_TRUE(ParseHomeFeed(body).empty()) << body;
    }
}

TEST(HomeFeed, ABadCharacterCostsOnlyTheTextThatHoldsIt) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string name;
        std::string json;      // a JSON string, quotes included
        std::string expected;  // what the name reads as
    };
    const Case cases[] = {
        {"escaped lone high surrogate", R"("a\ud800b")", "a" + fffd + "b"},
        {"escaped lone low surrogate", R"("\udc00")", fffd},
        {"high surrogate before another escape", R"("\ud800\u0041")", fffd + "A"},
        {"high surrogate at the end", R"("x\uD83C")", "x" + fffd},
        {"escaped pair", R"("\ud83c\udfb5")", "\xF0\x9F\x8E\xB5"},
        {"escaped backslash before u", R"("\\ud800")", "\\ud800"},
        {"byte 0xFF", "\"a\xFF\"", "a" + fffd},
        {"truncated sequence", "\"\xE2\x82\"", fffd},
        {"surrogate in UTF-8", "\"\xED\xA0\x80\"", fffd + fffd + fffd},
        {"overlong slash", "\"\xC0\xAF\"", fffd + fffd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto sections = ParseHomeFeed(Feed(R"({"name":"Row","content":{"items":[
            {"name":)" + c.json + R"(,"type":"track","uri":"corvana:track:1"},
            {"name":"Sound","type":"album","uri":"corvana:album:2"}]}},
            {"name":"Next row","content":{"items":[{"name":"Also sound"}]}})"));
        ASSERT_EQ(sections.size(), 2u);
        ASSERT_EQ(sections[0].items.size(), 2u);
        EXPECT_EQ(sections[0].items[0].name, c.expected);
        EXPECT_EQ(sections[0].items[0].uri, "corvana:track:1");
        EXPECT_EQ(sections[0].items[1].name, "Sound");
        EXPECT_EQ(sections[1].items[0].name, "Also sound");
    }
    // A URI that lost a character would name something else: that item plays nothing.
    auto sections = ParseHomeFeed(Feed(R"({"name":"Row","content":{"items":[
        {"name":"Bad uri","uri":"corvana:track:\ud800"},{"name":"Good","uri":"corvana:track:3"}]}})"));
    ASSERT_EQ(sections.at(0).items.size(), 2u);
    EXPECT_EQ(sections[0].items[0].uri, "");
    EXPECT_EQ(sections[0].items[1].uri, "corvana:track:3");
}

TEST(HomeFeed, HostileInputNeverCrashes) {
    // Malformed text is an error the caller turns into a log line and an empty list.
    for (std::string body :
         std::vector<std::string>{"", "not json", "[1,2]", "{\"content\":", std::string(1, '\0')}) {
        EXPECT_ANY_THROW(ParseHomeFeed(body)) << body;
    }
    // Deep nesting where an item is expected, and everywhere else.
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_TRUE(ParseHomeFeed(Feed(R"({"name":"x","content":{"items":[)" + deep + "]}}")).empty());
    // A huge array of items.
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += std::string(i ? "," : "") + R"({"name":"n)" + std::to_string(i) + R"("})";
    auto sections = ParseHomeFeed(Feed(R"({"name":"big","content":{"items":[)" + many + "]}}"));
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(sections[0].items.size(), 100000u);
    // Wrong types at every level.
    for (std::string body :
         {R"({"content":{"items":[{"name":{},"content":{"items":[{"images":[null,[],{"url":{}}]}]}}]}})",
          R"({"content":{"items":[{"content":"items"}]}})", R"({"content":null})"}) {
        EXPECT_NO_THROW(ParseHomeFeed(body)) << body;
    }
}
