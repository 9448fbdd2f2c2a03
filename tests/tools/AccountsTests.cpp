#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tools/corvana-sim/Accounts.h"

using namespace corvanasim;

namespace {

constexpr const char* kClient = "client-1";
constexpr const char* kRedirect = "https://www.corvana.com";
const std::string kVerifier(64, 'v');

struct Fixture {
    int64_t now = 1'000'000;
    Accounts accounts{kClient, kRedirect, 3600, [this] { return now; }};

    std::string Code(const std::string& verifier = kVerifier) {
        return *accounts.IssueCode(kClient, S256(verifier), kRedirect, "ada").code;
    }
    Accounts::Answer Exchange(const std::string& code, const std::string& verifier = kVerifier,
                              const std::string& redirect = kRedirect) {
        return accounts.Token({{"grant_type", "authorization_code"},
                               {"code", code},
                               {"redirect_uri", redirect},
                               {"client_id", kClient},
                               {"code_verifier", verifier}});
    }
    Accounts::Answer Refresh(const std::string& token) {
        return accounts.Token(
            {{"grant_type", "refresh_token"}, {"refresh_token", token}, {"client_id", kClient}});
    }
};

}  // namespace

TEST(SimAccounts, ACodeIsRedeemedOnceWithTheRightVerifierAndRedirect) {
    Fixture f;
    auto ok = f.Exchange(f.Code());
    ASSERT_EQ(ok.status, 200) << ok.body;
    auto body = nlohmann::json::parse(ok.body);
    EXPECT_EQ(body["expires_in"], 3600);
    EXPECT_EQ(f.accounts.UserOfAccessToken(body["access_token"]), "ada");

    struct Case {
        std::string name;
        std::function<Accounts::Answer(Fixture&)> attempt;
        std::string error;
    };
    for (const auto& c : std::vector<Case>{
             {"wrong verifier", [](Fixture& f) { return f.Exchange(f.Code(), std::string(64, 'w')); },
              "invalid_grant"},
             {"reused code",
              [](Fixture& f) {
                  auto code = f.Code();
                  f.Exchange(code);
                  return f.Exchange(code);
              },
              "invalid_grant"},
             {"wrong redirect",
              [](Fixture& f) { return f.Exchange(f.Code(), kVerifier, "https://evil.example"); },
              "invalid_grant"},
             {"short verifier", [](Fixture& f) { return f.Exchange(f.Code("short"), "short"); },
              "invalid_request"},
             {"unknown code", [](Fixture& f) { return f.Exchange("made-up"); }, "invalid_grant"},
             {"expired code",
              [](Fixture& f) {
                  auto code = f.Code();
                  f.now += 11 * 60 * 1000;
                  return f.Exchange(code);
              },
              "invalid_grant"},
             {"wrong grant",
              [](Fixture& f) {
                  return f.accounts.Token({{"grant_type", "password"}, {"client_id", kClient}});
              },
              "unsupported_grant_type"},
             {"wrong client",
              [](Fixture& f) {
                  return f.accounts.Token({{"grant_type", "refresh_token"}, {"client_id", "x"}});
              },
              "invalid_client"}}) {
        Fixture fresh;
        auto answer = c.attempt(fresh);
        EXPECT_EQ(answer.status, 400) << c.name;
        EXPECT_EQ(nlohmann::json::parse(answer.body)["error"], c.error) << c.name;
    }
}

TEST(SimAccounts, CodesAreOnlyIssuedToTheRegisteredClientAndRedirect) {
    Fixture f;
    EXPECT_FALSE(f.accounts.IssueCode("other", S256(kVerifier), kRedirect, "ada").code);
    EXPECT_FALSE(f.accounts.IssueCode(kClient, S256(kVerifier), "https://www.corvana.com/", "ada").code);
    EXPECT_FALSE(f.accounts.IssueCode(kClient, "too-short", kRedirect, "ada").code);
}

TEST(SimAccounts, RefreshTokensRotateAndAccessTokensExpire) {
    Fixture f;
    auto first = nlohmann::json::parse(f.Exchange(f.Code()).body);
    auto refreshed = f.Refresh(first["refresh_token"]);
    ASSERT_EQ(refreshed.status, 200);
    auto second = nlohmann::json::parse(refreshed.body);
    EXPECT_NE(second["refresh_token"], first["refresh_token"]);
    EXPECT_EQ(f.Refresh(first["refresh_token"]).status, 400);  // spent
    EXPECT_EQ(f.Refresh(second["refresh_token"]).status, 200);

    f.now += 3600 * 1000;
    EXPECT_FALSE(f.accounts.UserOfAccessToken(second["access_token"]));
    EXPECT_EQ(f.accounts.TokenRequestsByGrant().at("refresh_token"), 3);
}

TEST(SimAccounts, S256MatchesTheRfc7636Example) {
    EXPECT_EQ(S256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}
