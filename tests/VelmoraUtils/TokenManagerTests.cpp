#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "VelmoraUtils/TokenManager.h"
#include "tests/support/FakeDesktopConnection.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;
using platform::HttpRequestMessage;
using platform::HttpResponseMessage;
using platform::Value;
using platform::ValueSet;
using testsupport::FakeDesktopConnection;
using utils::TokenManager;
using Response = utils::IDesktopAPIConnection::Response;

namespace {

// The token endpoint, the vault and the refresh timer, in memory.
struct FakeServices {
    using Status = utils::StoredCredential::State;

    struct Timer {
        std::function<void()> handler;
        std::chrono::nanoseconds delay;
        bool cancelled = false;
    };

    std::mutex mutex;
    std::vector<HttpRequestMessage> requests;
    std::vector<HttpResponseMessage> answers;  // taken in order; 500 when none is left
    bool holdRequests = false;
    std::vector<platform::TaskCompletionSource<HttpResponseMessage>> held;
    std::map<std::string, std::string> vault;
    bool vaultFails = false;   // no Secret Service: reads fail, saves are refused
    bool vaultLocked = false;  // entries are there but cannot be read, saves are refused
    std::vector<std::shared_ptr<Timer>> timers;
    std::shared_ptr<utils::SessionTokens> sessions = std::make_shared<utils::SessionTokens>();
    testsupport::TempDir lockFolder;

    utils::TokenManagerServices Services() {
        utils::TokenManagerServices services;
        services.sendTokenRequest = [this](HttpRequestMessage request) {
            platform::TaskCompletionSource<HttpResponseMessage> source;
            std::optional<HttpResponseMessage> answer;
            {
                std::lock_guard lock(mutex);
                requests.push_back(std::move(request));
                if (holdRequests) {
                    held.push_back(source);
                } else {
                    answer = NextAnswer();
                }
            }
            if (answer) source.TrySetResult(*answer);
            return source.GetTask();
        };
        services.readCredential = [this](const std::string& user) -> utils::StoredCredential {
            std::lock_guard lock(mutex);
            if (vaultFails) return {Status::Unavailable, {}};
            auto it = vault.find(user);
            if (it == vault.end()) return {Status::Missing, {}};
            if (vaultLocked) return {Status::Locked, {}};
            return {Status::Found, it->second};
        };
        services.saveCredentials = [this](const std::map<std::string, std::string>& entries) {
            std::lock_guard lock(mutex);
            if (vaultFails || vaultLocked) return false;
            for (const auto& [user, password] : entries) vault[user] = password;
            return true;
        };
        services.startTimer = [this](std::function<void()> handler, std::chrono::nanoseconds delay) {
            auto timer = std::make_shared<Timer>(Timer{std::move(handler), delay});
            std::lock_guard lock(mutex);
            timers.push_back(timer);
            return std::function<void()>([this, timer] {
                std::lock_guard lock(mutex);
                timer->cancelled = true;
            });
        };
        services.sessions = sessions;
        services.lockFolder = lockFolder.path();
        return services;
    }

    HttpResponseMessage NextAnswer() {
        HttpResponseMessage answer{500, {}, ""};
        if (!answers.empty()) {
            answer = answers.front();
            answers.erase(answers.begin());
        }
        return answer;
    }
    void Answer(int status, nlohmann::json body) {
        std::lock_guard lock(mutex);
        answers.push_back({status, {}, body.dump()});
    }
    void AnswerText(int status, std::string body) {
        std::lock_guard lock(mutex);
        answers.push_back({status, {}, std::move(body)});
    }
    void HoldRequests() {
        std::lock_guard lock(mutex);
        holdRequests = true;
    }
    // Answers the held requests, in order, and stops holding.
    void ReleaseRequests() {
        std::vector<std::pair<platform::TaskCompletionSource<HttpResponseMessage>, HttpResponseMessage>>
            release;
        {
            std::lock_guard lock(mutex);
            holdRequests = false;
            for (auto& source : held) release.emplace_back(source, NextAnswer());
            held.clear();
        }
        for (auto& [source, answer] : release) source.TrySetResult(answer);
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
    void Store(const std::string& user, const std::string& password) {
        std::lock_guard lock(mutex);
        vault[user] = password;
    }
    std::vector<std::shared_ptr<Timer>> Armed() {
        std::lock_guard lock(mutex);
        std::vector<std::shared_ptr<Timer>> armed;
        for (const auto& timer : timers)
            if (!timer->cancelled) armed.push_back(timer);
        return armed;
    }
    // The latest armed timer expires: its handler runs on a thread of its own, as on a pool thread, up to
    // its first wait.
    void FireTimer() {
        auto armed = Armed();
        ASSERT_FALSE(armed.empty());
        auto timer = armed.back();
        {
            std::lock_guard lock(mutex);
            timer->cancelled = true;  // a timer fires once
        }
        std::thread(timer->handler).join();
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

nlohmann::json Tokens(std::string access, std::optional<std::string> refresh, double expiresIn = 3600) {
    nlohmann::json body{{"access_token", access}, {"token_type", "Bearer"}, {"expires_in", expiresIn}};
    if (refresh) body["refresh_token"] = *refresh;
    return body;
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
    ~Fixture() {
        dispatcher->RunPending();
        // A sequence a later event superseded may still be on its way back to the dispatcher, holding the
        // manager (which holds the dispatcher): refused from now on, it ends instead of waiting for ever.
        if (manager) manager->Stop();
        dispatcher->Shutdown();
    }

    void Login(bool loggedIn) {
        script->Push("login_state_subscription", ValueSet{{"logged_in", Value(loggedIn)}});
    }
    void AnswerMe() { script->Answer("me", Response{false, ValueSet{{"username", Value("ada")}}}); }
    bool WaitForOutcomes(size_t count) {
        return dispatcher->RunUntil([&] { return outcomes.size() >= count; }, 5s);
    }
    void StoreRefreshToken(const std::string& token) {
        services.Store(userKey + "CorvanaRefreshToken", token);
    }
    std::optional<std::string> StoredRefreshToken() {
        return services.Stored(userKey + "CorvanaRefreshToken");
    }
    std::optional<std::string> StoredAccessToken() { return services.Stored(userKey + "CorvanaAccessToken"); }
    // Signs in by refresh: "refresh-1" is stored, the answer is access-2 and refresh-2.
    void FireTimer() { services.FireTimer(); }
    // Pumps meanwhile: a sequence started on this (the dispatcher's) thread continues on it.
    bool WaitForTokenRequests(size_t count) {
        return dispatcher->RunUntil([&] { return services.Requests().size() >= count; }, 5s);
    }
    void SignIn() {
        StoreRefreshToken("refresh-1");
        services.Answer(200, Tokens("access-2", "refresh-2"));
        Login(true);
        ASSERT_TRUE(WaitForOutcomes(1));
        ASSERT_EQ(outcomes, std::vector<bool>{true});
    }
    // The timer falls due and its refresh request waits for ReleaseRequests.
    void HoldATimerRefresh() {
        services.HoldRequests();
        FireTimer();
        ASSERT_TRUE(WaitForTokenRequests(2));
    }
    // A sequence that has finished its network part hands its last step to the dispatcher: run it.
    void RunNextDispatcherStep() {
        for (int i = 0; i < 5000 && dispatcher->PendingCount() == 0; ++i) std::this_thread::sleep_for(1ms);
        ASSERT_GT(dispatcher->RunPending(), 0u);
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

TEST(TokenManager, ARefreshAnswerWithoutARefreshTokenKeepsTheStoredOneAndTheTimerRefreshesAgain) {
    Fixture f;
    f.StoreRefreshToken("refresh-1");
    f.services.Answer(200, Tokens("access-2", std::nullopt, 1000));
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(1));
    EXPECT_EQ(f.StoredRefreshToken(), "refresh-1");
    EXPECT_EQ(f.manager->RefreshTimerDelay(), std::chrono::seconds(700));

    f.services.Answer(200, Tokens("access-3", std::nullopt));
    f.FireTimer();
    ASSERT_TRUE(f.dispatcher->RunUntil(
        [&] { return f.manager->RefreshTimerDelay() == std::chrono::seconds(3300); }, 5s));
    auto requests = f.services.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(Form(*requests[1].content)["refresh_token"], "refresh-1");
    EXPECT_EQ(f.manager->GetAccessToken(), "access-3");
    EXPECT_EQ(f.services.Armed().size(), 1u);        // the fired timer replaced by one new timer
    EXPECT_EQ(f.outcomes, std::vector<bool>{true});  // refreshed silently
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
              "ERROR TokenManager: FetchAuthTokensAsync failed: 0x80070057 the token reply has no "
              "refresh_token"},
             {"expires_in as text", 200,
              nlohmann::json{{"access_token", "a"}, {"refresh_token", "r"}, {"expires_in", "3600"}},
              "ERROR TokenManager: FetchAuthTokensAsync failed: 0x80070057 the token reply has an expires_in "
              "that "
              "is not a number"},
             // A token goes into an Authorization header: a line break would add a header of its own.
             {"a line break in the access token", 200, Tokens("a\r\nX-Injected: 1", "r"),
              "ERROR TokenManager: FetchAuthTokensAsync failed: 0x80070057 the token reply has an "
              "access_token that "
              "is no token"},
             {"a refresh token beyond visible ASCII", 200, Tokens("a", "caf\u00e9"),
              "ERROR TokenManager: FetchAuthTokensAsync failed: 0x80070057 the token reply has a "
              "refresh_token that "
              "is no token"},
             {"an empty access token", 200, Tokens("", "r"),
              "ERROR TokenManager: FetchAuthTokensAsync failed: 0x80070057 the token reply has an "
              "access_token that "
              "is no token"}}) {
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

TEST(TokenManager, AFailedSignInIsTriedAgainWhileTheDesktopAppReportsItsUser) {
    Fixture f;
    const auto refused = Response{true, ValueSet{{"code", Value(int32_t{1})}, {"message", Value("no")}}};
    {
        // The first try learns no user name; every later one gets a refused code.
        std::lock_guard lock(f.script->mutex);
        f.script->answers["me"].clear();
    }
    f.script->Fail("me", std::make_exception_ptr(platform::PlatformError(platform::E_FAIL, "no answer")));
    testsupport::LogCapture log;
    f.Login(true);
    ASSERT_TRUE(f.WaitForOutcomes(1));
    EXPECT_EQ(f.outcomes, std::vector<bool>{false});
    EXPECT_EQ(f.script->Count("auth_request"), 0);

    // Each failed try waits twice as long as the one before, up to a minute; none is reported again.
    std::vector<int64_t> waits;
    for (int i = 0; i < 6; ++i) {
        auto armed = f.services.Armed();
        ASSERT_EQ(armed.size(), 1u);
        waits.push_back(std::chrono::duration_cast<std::chrono::seconds>(armed[0]->delay).count());
        f.AnswerMe();
        f.script->Answer("auth_request", refused);
        const int before = f.script->Count("auth_request");
        f.FireTimer();
        ASSERT_TRUE(f.dispatcher->RunUntil([&] { return f.services.Armed().size() == 1; }, 5s));
        EXPECT_EQ(f.script->Count("auth_request"), before + 1);
    }
    EXPECT_EQ(waits, (std::vector<int64_t>{5, 10, 20, 40, 60, 60}));
    EXPECT_EQ(f.outcomes, std::vector<bool>{false});
    EXPECT_TRUE(
        log.Contains("INFO CorvanaWidgetNative: OnLoginStateChanged - sign-in failed; trying again in 5 s"));
    EXPECT_TRUE(log.Contains("INFO CorvanaWidgetNative: OnLoginStateChanged - signing in again (try 7)"));

    // The next try gets a code: signed in, with the refresh timer as after any sign-in.
    f.AnswerMe();
    f.script->Answer("auth_request", Response{false, ValueSet{{"auth_code", Value("code")}}});
    f.services.Answer(200, Tokens("access-1", "refresh-1"));
    f.FireTimer();
    ASSERT_TRUE(f.WaitForOutcomes(2));
    EXPECT_EQ(f.outcomes, (std::vector<bool>{false, true}));
    EXPECT_EQ(f.manager->GetAccessToken(), "access-1");
    ASSERT_EQ(f.services.Armed().size(), 1u);
    EXPECT_EQ(f.manager->RefreshTimerDelay(), std::chrono::seconds(3300));
}

TEST(TokenManager, SignInRetriesStopOnLogoutDisconnectionOrStop) {
    const std::vector<std::pair<std::string, std::function<void(Fixture&)>>> endings = {
        {"logout", [](Fixture& f) { f.Login(false); }},
        {"disconnection", [](Fixture& f) { f.controller->ConnectionStateChanged.Raise({false}); }},
        {"Stop", [](Fixture& f) { f.manager->Stop(); }},
    };
    for (const auto& [name, end] : endings) {
        SCOPED_TRACE(name);
        Fixture f;
        f.Login(true);  // "me" answers, the code request gets an empty answer: the sign-in fails
        ASSERT_TRUE(f.WaitForOutcomes(1));
        auto retry = f.services.Armed();
        ASSERT_EQ(retry.size(), 1u);
        end(f);
        f.dispatcher->RunUntil([&] { return f.services.Armed().empty(); }, 5s);
        EXPECT_TRUE(f.services.Armed().empty());
        // A retry whose cancellation came too late finds itself superseded and asks nothing.
        f.AnswerMe();
        const size_t requests = f.script->Requests().size();
        std::thread(retry[0]->handler).join();
        f.dispatcher->RunUntil([] { return false; }, 50ms);
        EXPECT_EQ(f.script->Requests().size(), requests);
    }
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

TEST(TokenManager, ASupersededSignInKeepsItsTokensButArmsAndReportsNothing) {
    struct Case {
        std::string name;
        std::function<void(Fixture&)> supersede;
        std::vector<bool> reported;  // by the superseding event itself
    };
    for (const auto& c :
         std::vector<Case>{{"logout", [](Fixture& f) { f.Login(false); }, {false}},
                           {"connection lost",
                            [](Fixture& f) { f.controller->ConnectionStateChanged.Raise({false}); },
                            {false}},
                           {"Stop()", [](Fixture& f) { f.manager->Stop(); }, {}}}) {
        Fixture f;
        f.StoreRefreshToken("refresh-1");
        f.services.Answer(200, Tokens("access-2", "refresh-2"));
        f.script->HoldRequests("me");
        f.Login(true);
        ASSERT_TRUE(f.script->WaitForRequests(1)) << c.name;  // the sign-in waits for the user name

        c.supersede(f);
        ASSERT_TRUE(f.WaitForOutcomes(c.reported.size())) << c.name;
        std::weak_ptr<TokenManager> weak = f.manager;
        f.manager.reset();  // the sign-in holds it until its end
        f.script->ReleaseRequests("me");
        ASSERT_TRUE(f.dispatcher->RunUntil([&] { return weak.expired(); }, 5s)) << c.name;

        EXPECT_EQ(f.outcomes, c.reported) << c.name;
        EXPECT_TRUE(f.services.Armed().empty()) << c.name;
        EXPECT_EQ(f.StoredAccessToken(), "access-2") << c.name;  // the tokens it got are kept
        EXPECT_EQ(f.StoredRefreshToken(), "refresh-2") << c.name;
    }
}

TEST(TokenManager, ATimerRefreshThatEndsAfterALogoutArmsNothing) {
    Fixture f;
    f.SignIn();
    f.HoldATimerRefresh();
    f.Login(false);
    ASSERT_TRUE(f.WaitForOutcomes(2));
    EXPECT_TRUE(f.services.Armed().empty());

    f.services.Answer(200, Tokens("access-3", "refresh-3"));
    f.services.ReleaseRequests();
    f.RunNextDispatcherStep();
    EXPECT_EQ(f.outcomes, (std::vector<bool>{true, false}));
    EXPECT_TRUE(f.services.Armed().empty());
    EXPECT_FALSE(f.manager->RefreshTimerDelay().has_value());
    EXPECT_EQ(f.StoredRefreshToken(), "refresh-3");
}

TEST(TokenManager, ARefreshAlreadyOnItsWayIsJoinedNotSentAgain) {
    struct Case {
        std::string name;
        std::function<void(Fixture&)> alsoRefresh;  // while the second login's refresh is held
        std::vector<bool> outcomes;
    };
    for (const auto& c : std::vector<Case>{
             {"another login",
              [](Fixture& f) {
                  f.AnswerMe();
                  f.Login(true);
              },
              {true, true}},  // the second login is superseded by the third: only the third reports
             // The first login's timer falls due: superseded by the second login, so it only refreshes.
             {"the timer", [](Fixture& f) { f.FireTimer(); }, {true, true}}}) {
        Fixture f;
        f.SignIn();
        f.services.HoldRequests();
        f.AnswerMe();
        f.Login(true);
        ASSERT_TRUE(f.WaitForTokenRequests(2)) << c.name;

        c.alsoRefresh(f);
        EXPECT_EQ(f.services.Requests().size(), 2u) << c.name;
        f.services.Answer(200, Tokens("access-3", "refresh-3"));
        f.services.ReleaseRequests();
        ASSERT_TRUE(f.WaitForOutcomes(c.outcomes.size())) << c.name;
        ASSERT_TRUE(f.services.sessions->WaitForRefreshes(5s)) << c.name;

        EXPECT_EQ(f.outcomes, c.outcomes) << c.name;
        auto requests = f.services.Requests();
        ASSERT_EQ(requests.size(), 2u) << c.name;
        EXPECT_EQ(Form(*requests[1].content)["refresh_token"], "refresh-2") << c.name;
        for (const auto& method : f.script->Methods()) EXPECT_NE(method, "auth_request") << c.name;
        EXPECT_EQ(f.StoredRefreshToken(), "refresh-3") << c.name;
    }
}

TEST(TokenManager, ARefusedRefreshGoesOnWithTheTokenAnotherProcessStored) {
    Fixture f;
    f.StoreRefreshToken("refresh-1");
    f.services.HoldRequests();
    f.Login(true);
    ASSERT_TRUE(f.WaitForTokenRequests(1));
    f.StoreRefreshToken("refresh-9");  // another process rotated it meanwhile
    f.services.Answer(400, nlohmann::json{{"error", "invalid_grant"}});
    f.services.Answer(200, Tokens("access-10", "refresh-10"));
    testsupport::LogCapture log;
    f.services.ReleaseRequests();
    ASSERT_TRUE(f.WaitForOutcomes(1));

    EXPECT_EQ(f.outcomes, std::vector<bool>{true});
    auto requests = f.services.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(Form(*requests[1].content)["refresh_token"], "refresh-9");
    for (const auto& method : f.script->Methods()) EXPECT_NE(method, "auth_request");
    EXPECT_TRUE(ManagerLines(log).empty());
    EXPECT_EQ(f.StoredRefreshToken(), "refresh-10");
}

TEST(TokenManager, TheRefreshTimerWaitsHalfAShortLifetimeAndNeverLessThan30Seconds) {
    struct Case {
        double expiresIn;
        int64_t delaySeconds;
    };
    for (const auto& c : std::vector<Case>{{3600, 3300},
                                           {3600.9, 3300},
                                           {601, 301},
                                           {600, 300},
                                           {300, 150},
                                           {200, 100},
                                           {61, 30},
                                           {60, 30},
                                           {1, 30},
                                           {0, 30},
                                           {-5, 30}}) {
        Fixture f;
        f.StoreRefreshToken("refresh-1");
        f.services.Answer(200, Tokens("access-2", "refresh-2", c.expiresIn));
        f.Login(true);
        ASSERT_TRUE(f.WaitForOutcomes(1)) << c.expiresIn;
        EXPECT_EQ(f.manager->RefreshTimerDelay(), std::chrono::seconds(c.delaySeconds)) << c.expiresIn;
    }
}

TEST(TokenManager, AVaultThatCannotKeepTheSessionLeavesItUsableInTheProcess) {
    struct Case {
        std::string name;
        std::function<void(FakeServices&)> breakVault;
        std::string readLine;  // why no refresh token could be read
        std::string notLine;
    };
    for (const auto& c : std::vector<Case>{
             {"no Secret Service", [](FakeServices& s) { s.vaultFails = true; },
              "ERROR TokenManager: no refresh token found in vault", ""},
             {"locked",
              [](FakeServices& s) {
                  s.vault[TokenManager::UserKeyFor("ada") + "CorvanaRefreshToken"] = "refresh-0";
                  s.vaultLocked = true;
              },
              "ERROR TokenManager: the vault is locked; no refresh token could be read",
              "ERROR TokenManager: no refresh token found in vault"}}) {
        Fixture f;
        {
            std::lock_guard lock(f.services.mutex);
            c.breakVault(f.services);
        }
        f.script->Answer("auth_request", Response{false, ValueSet{{"auth_code", Value("code")}}});
        f.services.Answer(200, Tokens("access-1", "refresh-1"));
        testsupport::LogCapture log;
        f.Login(true);
        ASSERT_TRUE(f.WaitForOutcomes(1)) << c.name;
        EXPECT_EQ(f.outcomes, std::vector<bool>{true}) << c.name;
        EXPECT_TRUE(log.Contains(c.readLine)) << c.name;
        EXPECT_FALSE(log.Contains(c.notLine)) << c.name;
        EXPECT_TRUE(log.Contains("ERROR TokenManager: failed to save user credentials")) << c.name;
        EXPECT_EQ(f.manager->GetAccessToken(), "access-1") << c.name;
        auto async = f.manager->GetAccessTokenAsync();
        ASSERT_TRUE(f.dispatcher->RunUntil([&] { return async.IsCompleted(); }, 5s)) << c.name;
        EXPECT_EQ(async.Get(), "access-1") << c.name;

        // The next login refreshes with the token kept in memory instead of spending a new code.
        f.AnswerMe();
        f.services.Answer(200, Tokens("access-2", "refresh-2"));
        f.Login(true);
        ASSERT_TRUE(f.WaitForOutcomes(2)) << c.name;
        EXPECT_EQ(f.outcomes, (std::vector<bool>{true, true})) << c.name;
        EXPECT_EQ(Form(*f.services.Requests().at(1).content)["refresh_token"], "refresh-1") << c.name;
        EXPECT_EQ(f.script->Count("auth_request"), 1) << c.name;
        EXPECT_EQ(f.manager->GetAccessToken(), "access-2") << c.name;
    }
}

TEST(TokenManager, StopWaitsForARefreshInFlightToStoreItsAnswer) {
    Fixture f;
    f.SignIn();
    f.HoldATimerRefresh();

    testsupport::LogCapture log;
    std::atomic<bool> stopped = false;
    std::optional<std::string> storedWhenStopped;
    std::thread stopping([&] {
        f.manager->Stop();
        storedWhenStopped = f.StoredRefreshToken();
        stopped = true;
    });
    for (int i = 0;
         i < 5000 && !stopped && !log.Contains("INFO TokenManager: waiting for a token refresh to finish");
         ++i) {
        std::this_thread::sleep_for(1ms);
    }
    f.services.Answer(200, Tokens("access-3", "refresh-3"));
    f.services.ReleaseRequests();
    stopping.join();
    EXPECT_EQ(storedWhenStopped, "refresh-3");
    EXPECT_TRUE(f.services.Armed().empty());
    f.dispatcher->RunPending();
    EXPECT_EQ(f.outcomes, std::vector<bool>{true});
}

TEST(TokenManager, StopCancelsAnArmedTimer) {
    Fixture f;
    f.SignIn();
    ASSERT_EQ(f.services.Armed().size(), 1u);
    f.manager->Stop();
    EXPECT_TRUE(f.services.Armed().empty());
    EXPECT_FALSE(f.manager->RefreshTimerDelay().has_value());
}

TEST(TokenManager, AFailedTimerRefreshReportsSignedOut) {
    struct Case {
        std::string name;
        int status;
        std::string body;
        std::string line;
    };
    for (const auto& c : std::vector<Case>{
             {"refused", 400, R"({"error":"invalid_grant"})",
              "ERROR TokenManager: refresh token request failed with status: 400"},
             {"server error", 503, "", "ERROR TokenManager: refresh token request failed with status: 503"},
             {"malformed", 200, "{not json",
              "ERROR TokenManager: RefreshAccessTokenAsync failed: 0x80070057 the token reply is not JSON"},
             {"no access token", 200, R"({"expires_in":3600})",
              "ERROR TokenManager: RefreshAccessTokenAsync failed: 0x80070057 the token reply has no "
              "access_token"}}) {
        Fixture f;
        f.SignIn();
        f.services.AnswerText(c.status, c.body);
        testsupport::LogCapture log;
        f.FireTimer();
        ASSERT_TRUE(f.WaitForOutcomes(2)) << c.name;
        EXPECT_EQ(f.outcomes, (std::vector<bool>{true, false})) << c.name;
        EXPECT_EQ(ManagerLines(log), std::vector<std::string>{c.line}) << c.name;
        EXPECT_TRUE(f.services.Armed().empty()) << c.name;
        EXPECT_FALSE(f.manager->RefreshTimerDelay().has_value()) << c.name;
        EXPECT_EQ(f.services.Requests().size(), 2u) << c.name;  // no retry
    }
}

TEST(TokenManager, ARejectedAccessTokenIsRefreshedOnce) {
    Fixture f;
    f.SignIn();
    auto await = [&](platform::Task<std::optional<std::string>> task) {
        EXPECT_TRUE(f.dispatcher->RunUntil([&] { return task.IsCompleted(); }, 5s));
        return task.Get();
    };

    f.services.Answer(200, Tokens("access-3", "refresh-3", 1000));
    EXPECT_EQ(await(f.manager->RefreshRejectedAccessTokenAsync("access-2")), "access-3");
    EXPECT_EQ(f.services.Requests().size(), 2u);
    EXPECT_EQ(f.manager->RefreshTimerDelay(), std::chrono::seconds(700));  // timed from the new lifetime

    // A token refused after it was replaced: the newer one, without another refresh.
    EXPECT_EQ(await(f.manager->RefreshRejectedAccessTokenAsync("access-2")), "access-3");
    EXPECT_EQ(f.services.Requests().size(), 2u);

    f.services.Answer(400, nlohmann::json{{"error", "invalid_grant"}});
    EXPECT_EQ(await(f.manager->RefreshRejectedAccessTokenAsync("access-3")), std::nullopt);
    f.dispatcher->RunPending();
    EXPECT_EQ(f.outcomes, (std::vector<bool>{true, false}));
    EXPECT_FALSE(f.manager->RefreshTimerDelay().has_value());
}

// The user key names every token in the vault: a change to how it is derived would orphan every stored
// session, so the keys are pinned to values computed outside this code (SHA-256, then unpadded base64url).
TEST(TokenManager, UserKeysAreDistinctWellFormedAndPinned) {
    auto a = TokenManager::UserKeyFor("ada");
    auto b = TokenManager::UserKeyFor("bob");
    EXPECT_EQ(a.size(), 43u);
    EXPECT_EQ(b.size(), 43u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    EXPECT_EQ(a, "_e5DDUC9V97qwYbNl5ADPQ8G-QmogG585ucXq3x9UCk");
    EXPECT_EQ(b, "gbY32PzSxtpjWeaWMROhFw3nleS3JbhNHgtM_Z7FjOk");
    // A name outside ASCII is hashed as its UTF-8 bytes ("Zo\u00eb \u00c5ngstr\u00f6m").
    EXPECT_EQ(TokenManager::UserKeyFor("Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m"),
              "2R_--6VNbBChNcm6BFu0wf1g4u4iHQOF7oZ9JC7x5OU");
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

TEST(TokenManager, ALoginWithoutWebAccountAsksForNothingAndReportsPlayerOnly) {
    Fixture f;
    std::vector<TokenManager::SignInState> states;
    auto manager = TokenManager::Create(
        f.controller, f.dispatcher, [&](TokenManager::SignInState state) { states.push_back(state); },
        "CorvanaWidgetWebview", f.services.Services());
    f.StoreRefreshToken("refresh-1");
    f.script->Push("login_state_subscription",
                   ValueSet{{"logged_in", Value(true)}, {"web_account", Value(false)}});
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return states.size() == 1 && f.outcomes.size() == 1; }, 5s));
    EXPECT_EQ(states, std::vector<TokenManager::SignInState>{TokenManager::SignInState::PlayerOnly});
    EXPECT_EQ(f.outcomes, std::vector<bool>{false});  // the boolean callback hears it as signed out
    for (const auto& method : f.script->Methods()) {
        EXPECT_NE(method, "auth_request");
        EXPECT_NE(method, "me");
    }
    EXPECT_TRUE(f.services.Requests().empty());
    EXPECT_FALSE(manager->GetAccessToken().has_value());
    EXPECT_FALSE(manager->RefreshTimerDelay().has_value());

    // A desktop app with an account later signs in as ever.
    // Each manager refreshes (the two may or may not join into one request): an answer for each.
    f.services.Answer(200, Tokens("access-2", "refresh-2"));
    f.services.Answer(200, Tokens("access-2", "refresh-2"));
    f.AnswerMe();
    f.Login(true);
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return states.size() == 3 && f.outcomes.size() == 2; }, 5s));
    // Signing in comes first, so the front end shows what plays meanwhile; the boolean callback hears
    // only the verdict.
    EXPECT_EQ(states, (std::vector<TokenManager::SignInState>{TokenManager::SignInState::PlayerOnly,
                                                              TokenManager::SignInState::SigningIn,
                                                              TokenManager::SignInState::SignedIn}));
    EXPECT_EQ(f.outcomes, (std::vector<bool>{false, true}));
    EXPECT_EQ(manager->GetAccessToken(), "access-2");
}

TEST(TokenManager, AFailedSignInIsReportedAsRetryingUntilATryWorks) {
    using State = TokenManager::SignInState;
    Fixture f;
    f.manager->Stop();  // its retries would share the fake timers with this one's
    f.manager.reset();
    std::vector<State> states;
    auto manager = TokenManager::Create(
        f.controller, f.dispatcher, [&](State state) { states.push_back(state); }, "CorvanaWidgetWebview",
        f.services.Services());
    f.Login(true);  // no refresh token stored, and the desktop app gives no code
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return states.size() == 2; }, 5s));
    EXPECT_EQ(states, (std::vector<State>{State::SigningIn, State::RetryingSignIn}));

    // A try that fails again reports nothing new.
    ASSERT_EQ(f.services.Armed().size(), 1u);
    f.AnswerMe();
    f.FireTimer();
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return f.services.Armed().size() == 1; }, 5s));
    EXPECT_EQ(f.script->Count("auth_request"), 2);
    f.dispatcher->RunPending();
    EXPECT_EQ(states.size(), 2u);

    // The try that gets a code signs in.
    f.AnswerMe();
    f.script->Answer("auth_request", Response{false, ValueSet{{"auth_code", Value("code")}}});
    f.services.Answer(200, Tokens("access-1", "refresh-1"));
    f.FireTimer();
    ASSERT_TRUE(f.dispatcher->RunUntil([&] { return states.size() == 3; }, 5s));
    EXPECT_EQ(states, (std::vector<State>{State::SigningIn, State::RetryingSignIn, State::SignedIn}));
    EXPECT_EQ(manager->GetAccessToken(), "access-1");
    manager->Stop();
}
