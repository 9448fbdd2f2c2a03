#include <gtest/gtest.h>

#include <set>

#include "Platform/Security/Cryptography.h"

using platform::Cryptography;

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

}  // namespace

TEST(Sha256, MatchesTheStandardsKnownAnswers) {
    EXPECT_EQ(Hex(Cryptography::Sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex(Cryptography::Sha256("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Cryptography::Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Hex(Cryptography::Sha256(std::string(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Base64Url, MatchesRfc4648WithoutPaddingAndUsesTheUrlAlphabet) {
    const std::vector<std::pair<std::string, std::string>> vectors{
        {"", ""},           {"f", "Zg"},          {"fo", "Zm8"},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [input, expected] : vectors)
        EXPECT_EQ(Cryptography::Base64UrlEncode(Bytes(input)), expected);
    // 0xfb 0xff would be "+/8" in the standard alphabet.
    EXPECT_EQ(Cryptography::Base64UrlEncode({0xfb, 0xff}), "-_8");
}

TEST(Base64Url, S256OfTheRfc7636ExampleVerifier) {
    auto challenge =
        Cryptography::Base64UrlEncode(Cryptography::Sha256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"));
    EXPECT_EQ(challenge, "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(SecureRandom, GivesTheLengthAskedAndNeverRepeats) {
    std::set<std::vector<uint8_t>> seen;
    for (int i = 0; i < 100; ++i) {
        auto bytes = Cryptography::SecureRandomBytes(32);
        ASSERT_EQ(bytes.size(), 32u);
        EXPECT_TRUE(seen.insert(bytes).second);
    }
    EXPECT_TRUE(Cryptography::SecureRandomBytes(0).empty());
}
