#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Foundation/Task.h"
#include "Platform/Http/HttpClient.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "Platform/Threading/ThreadPoolTimer.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "VelmoraUtils/Event.h"

namespace utils {

struct CorvanaAuthCodeResult {
    int32_t status = 2;  // 0 success, 2 failure
    std::string code;
};

struct CorvanaSignInResult {
    int32_t status = 2;  // 0 success, 2 failure
    int32_t expiresIn = 0;
};

// What the token manager reaches outside the process through: the token endpoint and the vault. Tests put
// fakes here; by default they are a new HTTP client per request and the token store.
struct TokenManagerServices {
    std::function<platform::Task<platform::HttpResponseMessage>(platform::HttpRequestMessage)>
        sendTokenRequest;
    std::function<std::optional<std::string>(const std::string& userName)> readCredential;
    std::function<bool(const std::map<std::string, std::string>& entries)> saveCredentials;

    static TokenManagerServices Default();
};

// Signs the user in to the Corvana web API without a password: the desktop app, already signed in, issues
// an authorization code (PKCE S256) that is exchanged for tokens, which live in the vault and are
// refreshed on a timer shortly before they expire. Driven by the controller's login and connection
// events; the outcome reaches the front end through one callback, always on the dispatcher's thread.
class TokenManager : public std::enable_shared_from_this<TokenManager> {
public:
    using LoginStateCallback = std::function<void(bool signedIn)>;

    static constexpr std::string_view kVerifierAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.~-";
    static constexpr size_t kVerifierLength = 120;
    static constexpr int64_t kRefreshMarginSeconds = 300;

    // Constructs the manager and registers its handlers on the controller.
    static std::shared_ptr<TokenManager> Create(
        std::shared_ptr<DesktopAPIController> controller,
        std::shared_ptr<platform::CoreDispatcher> dispatcher, LoginStateCallback loginStateCallback,
        std::string ownerName, TokenManagerServices services = TokenManagerServices::Default());
    ~TokenManager();

    // The access token of the signed-in user as the vault holds it now; empty before the first login.
    std::optional<std::string> GetAccessToken();
    // Unregisters the handlers and cancels the refresh timer; a second call does nothing more.
    void Stop();

    // The pieces of the sign-in, public for the front ends' diagnostics and for tests.
    static std::string UserKeyFor(const std::string& userName);
    static std::string MakeCodeVerifier();
    static std::string CodeChallengeFor(const std::string& verifier);
    std::optional<std::chrono::nanoseconds> RefreshTimerDelay();

private:
    TokenManager(std::shared_ptr<DesktopAPIController> controller,
                 std::shared_ptr<platform::CoreDispatcher> dispatcher, LoginStateCallback loginStateCallback,
                 std::string ownerName, TokenManagerServices services);

    void RegisterCallbacks();
    static platform::FireAndForget OnLoginStateChanged(std::weak_ptr<TokenManager> weak, bool loggedIn);
    static platform::FireAndForget OnConnectionLost(std::weak_ptr<TokenManager> weak,
                                                    std::shared_ptr<platform::CoreDispatcher> dispatcher);
    static platform::Task<CorvanaAuthCodeResult> GetAuthCodeAsync(
        std::shared_ptr<DesktopAPIController> controller, std::string challenge);
    static platform::Task<CorvanaSignInResult> FetchAuthTokensAsync(
        std::shared_ptr<DesktopAPIController> controller, std::string userKey,
        std::shared_ptr<const TokenManagerServices> services);
    static platform::Task<CorvanaSignInResult> RefreshAccessTokenAsync(
        std::string userKey, std::shared_ptr<const TokenManagerServices> services);
    static platform::Task<platform::HttpResponseMessage> SendTokenRequest(
        const TokenManagerServices& services, const std::map<std::string, std::string>& fields);
    void StartRefreshTimer(int64_t lifetimeSeconds, const std::string& userKey);
    void CancelRefreshTimer();

    std::shared_ptr<DesktopAPIController> controller_;
    const std::shared_ptr<platform::CoreDispatcher> dispatcher_;
    const LoginStateCallback loginStateCallback_;
    const std::string ownerName_;
    const std::shared_ptr<const TokenManagerServices> services_;

    std::mutex registrationLock_;  // guards the controller reference and the two registrations
    EventToken connectionStateToken_;
    EventToken loginStateToken_;

    std::mutex timerLock_;
    std::shared_ptr<platform::ThreadPoolTimer> refreshTimer_;

    std::mutex lock_;  // guards userKey_ only
    std::optional<std::string> userKey_;
};

}  // namespace utils
