#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "VelmoraUtils/TokenManager.h"
#include "tests/support/FakeDesktopConnection.h"
#include "tests/support/LogCapture.h"

using namespace std::chrono_literals;
using platform::HttpRequestMessage;
using platform::HttpResponseMessage;
using platform::Value;
using platform::ValueSet;
using testsupport::FakeDesktopConnection;
using utils::TokenManager;
using Response = utils::IDesktopAPIConnection::Response;

namespace {

// The token endpoint and the vault, in memory.
struct FakeServices {
    std::mutex mutex;
    std::vector<HttpRequestMessage> requests;
    std::vector<HttpResponseMessage> answers;  // taken in order; 500 when none is left
    std::map<std::string, std::string> vault;
    bool vaultFails = false;

    utils::TokenManagerServices Services() {
        utils::TokenManagerServices services;
        services.sendTokenRequest = [this](HttpRequestMessage request) {
            platform::TaskCompletionSource<HttpResponseMessage> source;
            std::lock_guard lock(mutex);
            requests.push_back(std::move(request));
            HttpResponseMessage answer{500, {}, ""};
            if (!answers.empty()) {
                answer = answers.front();
                answers.erase(answers.begin());
            }
            source.TrySetResult(answer);
            return source.GetTask();
        };
        services.readCredential = [this](const std::string& user) -> std::optional<std::string> {
            std::lock_guard lock(mutex);
            auto it = vault.find(user);
            if (it == vault.end()) return std::nullopt;
            return it->second;
        };
        services.saveCredentials = [this](const std::map<std::string, std::string>& entries) {
            std::lock_guard lock(mutex);
            if (vaultFails) return false;
            for (const auto& [user, password] : entries) vault[user] = password;
            return true;
        };
        return services;
    }
    void Answer(int status, nlohmann::json body) {
        std::lock_guard lock(mutex);
        answers.push_back({status, {}, body.dump()});
    }
    std::vector<HttpRequestMessage> Requests() {
        std::lock_guard lock(mutex);
        return requests;
    }
    std::optional<std::string> Stored(const std::string& user) {
        std::lock_guard lock(mutex);
        auto it = vault.find(user);
        return it == vault.end() ? std::nullopt : std::optional(it->second);
    }
};

std::map<std::string, std::string> Form(const std::string& body) {
    std::map<std::string, std::string> form;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        std::string pair = body.substr(start, end - start);
        auto eq = pair.find('=');
        form[pair.substr(0, eq)] = pair.substr(eq + 1);
        start = end + 1;
    }
    return form;
}

struct Fixture {
    explicit Fixture(std::string user = "ada") : userKey(TokenManager::UserKeyFor(user)) {
        script->Answer("me", Response{false, ValueSet{{"username", Value(user)}}});
        manager = TokenManager::Create(
            controller, dispatcher,
            [this](bool signedIn) {
                outcomes.push_back(signedIn);
                callbacksOnDispatcher = callbacksOnDispatcher && dispatcher->HasThreadAccess();
            },
            "CorvanaWidgetNative", services.Services());
    }
    ~Fixture() { dispatcher->RunPending(); }

    void Login(bool loggedIn) {
        script->Push("login_state_subscription", ValueSet{{"logged_in", Value(loggedIn)}});
    }
    bool WaitForOutcomes(size_t count) {
        return dispatcher->RunUntil([&] { return outcomes.size() >= count; }, 5s);
    }
    void StoreRefreshToken(const std::string& token) {
        services.vault[userKey + "CorvanaRefreshToken"] = token;
    }

    std::shared_ptr<platform::ManualDispatcher> dispatcher = platform::ManualDispatcher::Create();
    std::shared_ptr<FakeDesktopConnection::Script> script = std::make_shared<FakeDesktopConnection::Script>();
    std::shared_ptr<utils::DesktopAPIController> controller = utils::DesktopAPIController::Create(
        std::make_unique<FakeDesktopConnection>(script), utils::WidgetMode::Native, 20ms);
    FakeServices services;
    std::string userKey;
    std::vector<bool> outcomes;
    bool callbacksOnDispatcher = true;
    std::shared_ptr<TokenManager> manager;
};

// The token manager's own lines, without the controller's.
std::vector<std::string> ManagerLines(const testsupport::LogCapture& log) {
    std::vector<std::string> lines;
    for (const auto& line : log.Lines()) {
        if (line.find(" DesktopAPIController") == std::string::npos) lines.push_back(line);
    }
    return lines;
}

nlohmann::json Tokens(std::string access, std::optional<std::string> refresh, double expiresIn = 3600) {
    nlohmann::json body{{"access_token", access}, {"token_type", "Bearer"}, {"expires_in", expiresIn}};
    if (refresh) body["refresh_token"] = *refresh;
    return body;
}

}  // namespace

TEST(TokenManager, AStoredRefreshTokenSignsInSilently) {
    Fixture f;
    f.StoreRefreshToken("refresh-1");
    f.services.Answer(200, Tokens("access-2", "refresh-2"));
    testsupport::LogCapture log;
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(1));
    EXPECT_EQ(f.outcomes, std::vector<bool>{true});
    EXPECT_TRUE(f.callbacksOnDispatcher);

    auto requests = f.services.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, platform::HttpMethod::Post);
    EXPECT_EQ(requests[0].url, "https://accounts.corvana.com/api/token");
    EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
    EXPECT_TRUE(requests[0].headers.empty());
    EXPECT_EQ(*requests[0].content,
              "client_id=5e0c9a7d2b4f4e61a8d3c7b90f1e2a46&grant_type=refresh_token&refresh_token=refresh-1");
    for (const auto& method : f.script->Methods()) EXPECT_NE(method, "auth_request");

    EXPECT_EQ(ManagerLines(log),
              std::vector<std::string>{"INFO CorvanaWidgetNative: OnLoginStateChanged - logged in"});
    EXPECT_EQ(f.services.Stored(f.userKey + "CorvanaRefreshToken"), "refresh-2");
    EXPECT_EQ(f.manager->GetAccessToken(), "access-2");
    EXPECT_EQ(f.manager->RefreshTimerDelay(), std::chrono::seconds(3300));
}

TEST(TokenManager, WithoutARefreshTokenItExchangesANewCodeWithPkce) {
    Fixture f;
    f.script->Answer("auth_request", Response{false, ValueSet{{"auth_code", Value("code/with+odd chars")}}});
    f.services.Answer(200, Tokens("access-1", "refresh-1", 3600.9));
    testsupport::LogCapture log;
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(1));
    EXPECT_EQ(f.outcomes, std::vector<bool>{true});
    EXPECT_EQ(ManagerLines(log),
              (std::vector<std::string>{
                  "INFO CorvanaWidgetNative: OnLoginStateChanged - logged in",
                  "ERROR TokenManager: no refresh token found in vault",
                  "ERROR CorvanaWidgetNative: RefreshAccessTokenAsync failed, trying FetchAuthTokensAsync",
                  "INFO CorvanaWidgetNative: FetchAuthTokensAsync succeeded"}));

    auto requests = f.script->Requests();
    auto auth = std::find_if(requests.begin(), requests.end(),
                             [](const auto& r) { return r.method == "auth_request"; });
    ASSERT_NE(auth, requests.end());
    std::string challenge = auth->params.Lookup("client_code_challenge").AsString();
    EXPECT_EQ(auth->params.Lookup("client_scopes").AsString(),
              "playlist-read-private user-read-currently-playing user-modify-playback-state "
              "user-read-playback-state "
              "streaming user-library-read user-library-modify");

    auto exchange = f.services.Requests().at(0);
    const std::string& body = *exchange.content;
    // Fields in ascending key order, percent-encoded.
    EXPECT_EQ(body.find("client_id="), 0u);
    EXPECT_LT(body.find("&code="), body.find("&code_verifier="));
    EXPECT_LT(body.find("&code_verifier="), body.find("&grant_type=authorization_code"));
    EXPECT_LT(body.find("&grant_type="), body.find("&redirect_uri=https%3A%2F%2Fwww.corvana.com"));
    auto form = Form(body);
    EXPECT_EQ(form["code"], "code%2Fwith%2Bodd+chars");
    const std::string verifier = form["code_verifier"];  // the alphabet needs no escaping
    EXPECT_EQ(verifier.size(), 120u);
    EXPECT_EQ(TokenManager::CodeChallengeFor(verifier), challenge);
    EXPECT_EQ(challenge.size(), 43u);

    EXPECT_EQ(f.manager->RefreshTimerDelay(), std::chrono::seconds(3300));  // 3600.9 truncates to 3600
    for (const auto& line : log.Lines()) {
        for (const char* secret : {"access-1", "refresh-1", "code/with"})
            EXPECT_EQ(line.find(secret), std::string::npos);
    }
}

TEST(TokenManager, ARefreshAnswerWithoutARefreshTokenKeepsTheStoredOne) {
    Fixture f;
    f.StoreRefreshToken("refresh-1");
    f.services.Answer(200, Tokens("access-2", std::nullopt, 200));
    f.services.Answer(200, Tokens("access-3", std::nullopt));  // the immediate refresh of a 200 s lifetime
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(1));
    EXPECT_EQ(f.services.Stored(f.userKey + "CorvanaRefreshToken"), "refresh-1");
    // 200 s is inside the margin: the timer is armed at zero and fires at once.
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return f.services.Requests().size() >= 2; }, 5s));
    ASSERT_TRUE(f.dispatcher->RunUntil(
        [&] { return f.manager->RefreshTimerDelay() == std::chrono::seconds(3300); }, 5s));
    EXPECT_EQ(f.manager->GetAccessToken(), "access-3");
    EXPECT_EQ(f.outcomes, std::vector<bool>{true});
}

TEST(TokenManager, FailedExchangesReportSignedOut) {
    struct Case {
        std::string name;
        int status;
        nlohmann::json body;
        std::string line;
    };
    for (const auto& c : std::vector<Case>{
             {"400", 400, nlohmann::json{{"error", "invalid_grant"}},
              "ERROR TokenManager: token request failed with status: 400"},
             {"no refresh token", 200, Tokens("access", std::nullopt),
              "ERROR TokenManager: FetchAuthTokensAsync failed"},
             {"expires_in as text", 200,
              nlohmann::json{{"access_token", "a"}, {"refresh_token", "r"}, {"expires_in", "3600"}},
              "ERROR TokenManager: FetchAuthTokensAsync failed"}}) {
        Fixture f;
        f.script->Answer("auth_request", Response{false, ValueSet{{"auth_code", Value("code")}}});
        f.services.Answer(c.status, c.body);
        testsupport::LogCapture log;
        f.Login(true);
        ASSERT_TRUE(f.WaitForOutcomes(1)) << c.name;
        EXPECT_EQ(f.outcomes, std::vector<bool>{false}) << c.name;
        EXPECT_TRUE(log.Contains(c.line)) << c.name;
        EXPECT_TRUE(log.Contains("ERROR CorvanaWidgetNative: FetchAuthTokensAsync failed")) << c.name;
        EXPECT_FALSE(f.manager->RefreshTimerDelay().has_value()) << c.name;
    }
}

TEST(TokenManager, NoUserNameAbortsTheLogin) {
    Fixture f;
    {
        // Replace the fixture's answer to "me" with an error response.
        std::lock_guard lock(f.script->mutex);
        f.script->answers["me"].clear();
        f.script->answers["me"].push_back({Response{true, ValueSet{{"code", Value(int32_t{1})}}}, nullptr});
    }
    testsupport::LogCapture log;
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(1));
    EXPECT_EQ(f.outcomes, std::vector<bool>{false});
    EXPECT_TRUE(log.Contains("ERROR CorvanaWidgetNative: GetCurrentUsernameAsync failed; aborting login"));
    EXPECT_EQ(f.manager->GetAccessToken(), std::nullopt);
}

TEST(TokenManager, LogoutCancelsTheTimerButAFailedSignInLeavesIt) {
    Fixture f;
    f.StoreRefreshToken("refresh-1");
    f.services.Answer(200, Tokens("access-2", "refresh-2"));
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(1));
    ASSERT_TRUE(f.manager->RefreshTimerDelay().has_value());

    // A second login whose refresh and exchange both fail: reported, but the earlier timer stays.
    f.script->Answer("me", Response{false, ValueSet{{"username", Value("ada")}}});
    f.script->Answer("auth_request",
                     Response{true, ValueSet{{"code", Value(int32_t{1})}, {"message", Value("no")}}});
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(2));
    EXPECT_EQ(f.outcomes, (std::vector<bool>{true, false}));
    EXPECT_TRUE(f.manager->RefreshTimerDelay().has_value());

    f.Login(false);
    ASSERT_TRUE(f.WaitForOutcomes(3));
    EXPECT_EQ(f.outcomes.back(), false);
    EXPECT_FALSE(f.manager->RefreshTimerDelay().has_value());
    // The key and the vault entries outlive the logout.
    EXPECT_EQ(f.manager->GetAccessToken(), "access-2");
}

TEST(TokenManager, ConnectionLossSignsOutAndConnectionGainChangesNothing) {
    Fixture f;
    f.StoreRefreshToken("refresh-1");
    f.services.Answer(200, Tokens("access-2", "refresh-2"));
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(1));

    f.controller->ConnectionStateChanged.Raise({true});
    f.dispatcher->RunUntil([] { return false; }, 50ms);
    EXPECT_EQ(f.outcomes.size(), 1u);
    EXPECT_TRUE(f.manager->RefreshTimerDelay().has_value());

    f.controller->ConnectionStateChanged.Raise({false});
    ASSERT_TRUE(f.WaitForOutcomes(2));
    EXPECT_EQ(f.outcomes.back(), false);
    EXPECT_FALSE(f.manager->RefreshTimerDelay().has_value());
}

TEST(TokenManager, AccessTokenBeforeAnyLoginIsEmpty) {
    Fixture f;
    f.services.vault[f.userKey + "CorvanaAccessToken"] = "left from last time";
    EXPECT_EQ(f.manager->GetAccessToken(), std::nullopt);  // no user key yet
}

TEST(TokenManager, StopUnregistersOnceAndLaterEventsDoNothing) {
    Fixture f;
    EXPECT_EQ(f.controller->LoginStateChanged.HandlerCount(), 1u);
    EXPECT_EQ(f.controller->ConnectionStateChanged.HandlerCount(), 1u);
    f.manager->Stop();
    f.manager->Stop();
    EXPECT_EQ(f.controller->LoginStateChanged.HandlerCount(), 0u);
    EXPECT_EQ(f.controller->ConnectionStateChanged.HandlerCount(), 0u);
    f.Login(true);
    f.dispatcher->RunUntil([] { return false; }, 50ms);
    EXPECT_TRUE(f.outcomes.empty());
}

TEST(TokenManager, AManagerReleasedDuringASignInFinishesItThenGoes) {
    Fixture f;
    f.StoreRefreshToken("refresh-1");
    f.services.Answer(200, Tokens("access-2", "refresh-2"));
    std::weak_ptr<TokenManager> weak = f.manager;
    {
        std::lock_guard lock(f.script->mutex);
        f.script->answers["me"].clear();
        f.script->answers["me"].push_back(
            {std::nullopt, std::make_exception_ptr(platform::PlatformError(platform::E_FAIL))});
    }
    f.Login(true);
    f.manager.reset();
    ASSERT_TRUE(f.WaitForOutcomes(1));  // the sequence held the manager to its end
    EXPECT_EQ(f.outcomes, std::vector<bool>{false});
    f.dispatcher->RunPending();
    EXPECT_TRUE(weak.expired());
}

TEST(TokenManager, UserKeysAreDistinctAndWellFormed) {
    auto a = TokenManager::UserKeyFor("ada");
    auto b = TokenManager::UserKeyFor("bob");
    EXPECT_EQ(a.size(), 43u);
    EXPECT_EQ(b.size(), 43u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
}

TEST(CodeVerifier, IsLongFromTheAlphabetUnpredictableAndUniform) {
    std::set<std::string> seen;
    std::map<char, int> counts;
    constexpr int kVerifiers = 2000;
    for (int i = 0; i < kVerifiers; ++i) {
        auto verifier = TokenManager::MakeCodeVerifier();
        ASSERT_EQ(verifier.size(), 120u);
        EXPECT_TRUE(seen.insert(verifier).second);
        for (char c : verifier) ++counts[c];
    }
    ASSERT_EQ(counts.size(), 66u);  // every character of the alphabet shows up, and nothing else
    for (const auto& [c, n] : counts) EXPECT_NE(TokenManager::kVerifierAlphabet.find(c), std::string::npos);
    // Chi-square against the uniform distribution, 65 degrees of freedom: a bias as small as one biased
    // byte value (as `byte % 66` would give) pushes it far past this loose bound.
    double expected = kVerifiers * 120.0 / 66.0;
    double chiSquare = 0;
    for (const auto& [c, n] : counts) chiSquare += (n - expected) * (n - expected) / expected;
    EXPECT_LT(chiSquare, 130.0);
}
