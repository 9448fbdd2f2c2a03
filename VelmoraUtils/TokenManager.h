#pragma once

#include <atomic>
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
#include "Platform/Storage/FileLock.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "VelmoraUtils/Event.h"
#include "VelmoraUtils/SessionTokens.h"
#include "VelmoraUtils/TokenStore.h"

namespace utils {

struct CorvanaAuthCodeResult {
    int32_t status = 2;  // 0 success, 2 failure
    std::string code;
};

struct CorvanaSignInResult {
    int32_t status = 2;  // 0 success, 2 failure
    int32_t expiresIn = 0;
};
// A sign-in or refresh that failed: no tokens, so no lifetime to arm the refresh timer for.
inline constexpr CorvanaSignInResult kSignInFailed{2, 0};

// What the token manager reaches outside itself through: the token endpoint, the vault, the refresh timer,
// the process's session record and the lock files that order refreshes across processes. Tests put fakes
// here; Default() gives the real ones. A manager given no sessions keeps a record of its own, and one given
// no timer uses the pool's.
struct TokenManagerServices {
    std::function<platform::Task<platform::HttpResponseMessage>(platform::HttpRequestMessage)>
        sendTokenRequest;
    // Both block for up to the vault's deadline: the manager calls them on the blocking pool only.
    std::function<StoredCredential(const std::string& userName)> readCredential;
    std::function<bool(const std::map<std::string, std::string>& entries)> saveCredentials;
    // Arms a one-shot timer whose handler runs on a pool thread; the function returned cancels it.
    std::function<std::function<void()>(std::function<void()> handler, std::chrono::nanoseconds delay)>
        startTimer;
    std::shared_ptr<SessionTokens> sessions;
    // Folder of the per-user lock files (LocalFolder/Corvana); empty for no cross-process lock.
    std::string lockFolder;

    static TokenManagerServices Default();
};

// Signs the user in to the Corvana web API without a password: the desktop app, already signed in, issues
// an authorization code (PKCE S256) that is exchanged for tokens, which live in the vault (and in memory
// for the life of the process) and are refreshed on a timer shortly before they expire. Driven by the
// controller's login and connection events; the outcome reaches the front end through one callback,
// always on the dispatcher's thread.
//
// Each login-state event, connection loss and Stop() starts a new generation. A sign-in or refresh of an
// older generation still stores the tokens it obtained but arms no timer and reports nothing, so a late
// answer never undoes a newer state. One refresh per user is in flight at a time in the process, and a
// lock file orders refreshes across processes: the refresh token rotates, so a second refresh with the
// same token would be refused.
class TokenManager : public std::enable_shared_from_this<TokenManager> {
public:
    using LoginStateCallback = std::function<void(bool signedIn)>;
    // What the front end shows: signed out; signing in (the desktop app reports its user and the tokens
    // are on their way: playback can be shown, the feed not yet); signed in (tokens stored, the feed can
    // be fetched); or player only, when the desktop side plays but has no Corvana account (no tokens, no
    // feed, playback shown). Signing in is followed by signed in, signed out, or retrying: the sign-in
    // failed while the desktop app reports its user and waits to be tried again, which the front ends show
    // as signing in, since the desktop app still reports what plays. Each is reported when a login event
    // starts a sign-in, not for the tries that follow a failed one; the try that works reports signed in.
    enum class SignInState { SignedOut, SigningIn, SignedIn, PlayerOnly, RetryingSignIn };
    using SignInStateCallback = std::function<void(SignInState state)>;

    static constexpr std::string_view kVerifierAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.~-";
    static constexpr size_t kVerifierLength = 120;
    static constexpr int64_t kRefreshMarginSeconds = 300;
    // The least time between two refreshes, whatever lifetime the token endpoint gives.
    static constexpr int64_t kMinimumRefreshSpacingSeconds = 30;
    // How long Stop() waits for a refresh in flight to store its result.
    static constexpr std::chrono::seconds kStopWaitForRefresh{3};
    // How long a refresh waits for another process's refresh of the same user before going on without
    // the lock.
    static constexpr std::chrono::seconds kRefreshLockWait{45};
    // A sign-in that failed while the desktop app reports a signed-in user is tried again after this,
    // then after twice as long each time, up to the longest wait.
    static constexpr std::chrono::seconds kFirstSignInRetry{5};
    static constexpr std::chrono::seconds kLongestSignInRetry{60};

    // Constructs the manager and registers its handlers on the controller. The boolean callback hears
    // player only and retrying as signed out, and nothing of signing in.
    static std::shared_ptr<TokenManager> Create(
        std::shared_ptr<DesktopAPIController> controller,
        std::shared_ptr<platform::CoreDispatcher> dispatcher, LoginStateCallback loginStateCallback,
        std::string ownerName, TokenManagerServices services = TokenManagerServices::Default());
    static std::shared_ptr<TokenManager> Create(
        std::shared_ptr<DesktopAPIController> controller,
        std::shared_ptr<platform::CoreDispatcher> dispatcher, SignInStateCallback signInStateCallback,
        std::string ownerName, TokenManagerServices services = TokenManagerServices::Default());
    ~TokenManager();

    // The signed-in user's access token: the vault's, or this process's copy when the vault could not
    // store it; empty before the first login. Blocks on the vault: for command-line tools and tests.
    std::optional<std::string> GetAccessToken();
    // The same, read on the blocking pool, so no UI thread ever waits on the vault.
    platform::Task<std::optional<std::string>> GetAccessTokenAsync();
    // For a web API that refused `rejectedAccessToken` (401): the access token to try instead. When the
    // tokens have not been refreshed since, they are refreshed now (joining a refresh in flight); empty
    // when that fails, which is then reported as signed out.
    platform::Task<std::optional<std::string>> RefreshRejectedAccessTokenAsync(
        std::string rejectedAccessToken);
    // Unregisters the handlers and cancels the refresh timer, then waits (at most kStopWaitForRefresh) for
    // a refresh in flight to store its result: the server has already rotated the refresh token, and an
    // exit before the answer is stored would lose the session. A second call does nothing more.
    void Stop();

    // The pieces of the sign-in, public for the front ends' diagnostics and for tests.
    static std::string UserKeyFor(const std::string& userName);
    static std::string MakeCodeVerifier();
    static std::string CodeChallengeFor(const std::string& verifier);
    // A token request's body (application/x-www-form-urlencoded), its fields in ascending key order.
    static std::string FormBody(const std::map<std::string, std::string>& fields);
    std::optional<std::chrono::nanoseconds> RefreshTimerDelay();

private:
    TokenManager(std::shared_ptr<DesktopAPIController> controller,
                 std::shared_ptr<platform::CoreDispatcher> dispatcher,
                 SignInStateCallback signInStateCallback, std::string ownerName,
                 TokenManagerServices services);

    using Services = std::shared_ptr<const TokenManagerServices>;

    void RegisterCallbacks();
    bool IsCurrent(uint64_t generation) const { return generation_.load() == generation; }
    // `attempt` counts the tries of one login event's sign-in: 0 for the event itself.
    static platform::FireAndForget OnLoginStateChanged(std::weak_ptr<TokenManager> weak, bool loggedIn,
                                                       bool webAccount, uint64_t generation, int attempt = 0);
    static platform::FireAndForget OnConnectionLost(std::weak_ptr<TokenManager> weak,
                                                    std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                    uint64_t generation);
    static platform::FireAndForget OnRefreshTimer(std::weak_ptr<TokenManager> weak,
                                                  std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                  std::string userKey, Services services,
                                                  uint64_t generation);
    static platform::Task<CorvanaAuthCodeResult> GetAuthCodeAsync(
        std::shared_ptr<DesktopAPIController> controller, std::string challenge);
    static platform::Task<CorvanaSignInResult> FetchAuthTokensAsync(
        std::shared_ptr<DesktopAPIController> controller, std::string userKey, Services services);
    static platform::Task<CorvanaSignInResult> RefreshAccessTokenAsync(std::string userKey,
                                                                       Services services);
    static platform::Task<CorvanaSignInResult> RefreshUnderLockAsync(std::string userKey, Services services);
    static platform::Task<std::unique_ptr<platform::FileLock>> LockRefreshesAsync(std::string userKey,
                                                                                  Services services);
    static platform::Task<platform::HttpResponseMessage> SendTokenRequest(
        const TokenManagerServices& services, const std::map<std::string, std::string>& fields);
    static std::optional<std::string> ReadRefreshToken(const std::string& userKey,
                                                       const TokenManagerServices& services);
    static std::optional<std::string> ReadAccessToken(const std::string& userKey,
                                                      const TokenManagerServices& services);
    static void StoreTokens(const std::string& userKey, const std::string& accessToken,
                            const std::string& refreshToken, const TokenManagerServices& services);
    static int64_t RefreshDelaySeconds(int64_t lifetimeSeconds);
    void StartRefreshTimer(int64_t lifetimeSeconds, const std::string& userKey, uint64_t generation);
    void CancelRefreshTimer();
    static std::chrono::seconds SignInRetryDelay(int attempt);
    void StartSignInRetry(uint64_t generation, int attempt);
    void CancelSignInRetry();

    std::shared_ptr<DesktopAPIController> controller_;
    const std::shared_ptr<platform::CoreDispatcher> dispatcher_;
    const SignInStateCallback loginStateCallback_;
    const std::string ownerName_;
    const Services services_;

    std::atomic<uint64_t> generation_{0};
    std::atomic<bool> stopped_{false};

    std::mutex registrationLock_;  // guards the controller reference and the two registrations
    EventToken connectionStateToken_;
    EventToken loginStateToken_;

    std::mutex timerLock_;  // guards the three fields below
    std::function<void()> cancelRefreshTimer_;
    std::optional<std::chrono::nanoseconds> refreshTimerDelay_;
    std::function<void()> cancelSignInRetry_;

    std::mutex lock_;  // guards userKey_ only
    std::optional<std::string> userKey_;
};

}  // namespace utils
