#include "VelmoraUtils/TokenManager.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Security/Cryptography.h"
#include "Platform/Storage/ApplicationData.h"
#include "Platform/Threading/ThreadPoolTimer.h"
#include "VelmoraUtils/CorvanaEndpoints.h"
#include "VelmoraUtils/Logger.h"
#include "VelmoraUtils/TokenReply.h"
#include "VelmoraUtils/TokenStore.h"

namespace utils {

using platform::Task;

namespace {

constexpr const char* kAccessTokenSuffix = "CorvanaAccessToken";
constexpr const char* kRefreshTokenSuffix = "CorvanaRefreshToken";

// Why a step of the sign-in failed, for the line that logs it. What the steps raise (the desktop app's
// error, the network's, the token reply's checks, the vault's) never quotes a token.
std::string FailureReason(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an error of unknown kind";
    }
}

// application/x-www-form-urlencoded: unreserved characters as they are, spaces as '+', the rest as %XX.
std::string FormEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += static_cast<char>(c);
        } else if (c == ' ') {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

// One of the user's tokens: this process's copy when the vault refused it (the vault then holds an older
// one), else the vault's (another process may have stored a newer one), else the copy.
StoredCredential ReadToken(const std::string& userKey, const char* suffix,
                           std::string SessionTokens::Tokens::*kind, const TokenManagerServices& services) {
    std::optional<SessionTokens::Tokens> remembered = services.sessions->Remembered(userKey);
    if (remembered && !remembered->savedToVault) return {StoredCredential::State::Found, (*remembered).*kind};
    StoredCredential stored = services.readCredential(userKey + suffix);
    if (!stored.found() && remembered) return {StoredCredential::State::Found, (*remembered).*kind};
    return stored;
}

std::map<std::string, std::string> RefreshFields(const std::string& refreshToken) {
    return {{"grant_type", "refresh_token"},
            {"refresh_token", refreshToken},
            {"client_id", std::string(CorvanaEndpoints::kClientId)}};
}

std::function<void()> StartPoolTimer(std::function<void()> handler, std::chrono::nanoseconds delay) {
    auto timer = platform::ThreadPoolTimer::CreateTimer(std::move(handler), delay);
    return [timer] { timer->Cancel(); };
}

// Services a caller left empty that have a harmless stand-in: a record of sign-ins of the manager's own
// (never another manager's remembered tokens) and the pool's timer.
TokenManagerServices Completed(TokenManagerServices services) {
    if (!services.sessions) services.sessions = std::make_shared<SessionTokens>();
    if (!services.startTimer) services.startTimer = StartPoolTimer;
    return services;
}

}  // namespace

TokenManagerServices TokenManagerServices::Default() {
    TokenManagerServices services;
    services.sendTokenRequest = [](platform::HttpRequestMessage request) {
        // A new client for every request, as the token exchange and refresh each stand alone.
        request.maxResponseBytes = 64 * 1024;
        return platform::HttpClient().SendRequestAsync(std::move(request));
    };
    services.readCredential = [](const std::string& userName) { return TokenStore::Read(userName); };
    services.saveCredentials = [](const std::map<std::string, std::string>& entries) {
        return TokenStore::SaveCredentials(entries);
    };
    services.startTimer = StartPoolTimer;
    services.sessions = SessionTokens::ForProcess();
    services.lockFolder = platform::JoinPath(platform::ApplicationData::Current().LocalFolder(), "Corvana");
    return services;
}

std::shared_ptr<TokenManager> TokenManager::Create(std::shared_ptr<DesktopAPIController> controller,
                                                   std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                   LoginStateCallback loginStateCallback,
                                                   std::string ownerName, TokenManagerServices services) {
    return Create(std::move(controller), std::move(dispatcher),
                  SignInStateCallback([callback = std::move(loginStateCallback)](SignInState state) {
                      if (state != SignInState::SigningIn) callback(state == SignInState::SignedIn);
                  }),
                  std::move(ownerName), std::move(services));
}

std::shared_ptr<TokenManager> TokenManager::Create(std::shared_ptr<DesktopAPIController> controller,
                                                   std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                   SignInStateCallback signInStateCallback,
                                                   std::string ownerName, TokenManagerServices services) {
    std::shared_ptr<TokenManager> manager(new TokenManager(std::move(controller), std::move(dispatcher),
                                                           std::move(signInStateCallback),
                                                           std::move(ownerName), std::move(services)));
    manager->RegisterCallbacks();
    return manager;
}

TokenManager::TokenManager(std::shared_ptr<DesktopAPIController> controller,
                           std::shared_ptr<platform::CoreDispatcher> dispatcher,
                           SignInStateCallback signInStateCallback, std::string ownerName,
                           TokenManagerServices services)
    : controller_(std::move(controller)),
      dispatcher_(std::move(dispatcher)),
      loginStateCallback_(std::move(signInStateCallback)),
      ownerName_(std::move(ownerName)),
      services_(std::make_shared<const TokenManagerServices>(Completed(std::move(services)))) {}

TokenManager::~TokenManager() {
    Stop();
}

void TokenManager::RegisterCallbacks() {
    std::weak_ptr<TokenManager> weak = weak_from_this();
    std::lock_guard lock(registrationLock_);
    // The generation advances as each event arrives, not when its sequence reaches the dispatcher, so the
    // order of the events decides which one is current.
    connectionStateToken_ = controller_->ConnectionStateChanged.Add(
        [weak, dispatcher = dispatcher_](const desktop_api_types::ConnectionStateResponse& state) {
            if (state.connected) return;
            auto self = weak.lock();
            if (!self) return;
            const uint64_t generation = ++self->generation_;
            if (self->stopped_) return;  // raised from a snapshot taken before Stop() unregistered us
            self->CancelSignInRetry();
            OnConnectionLost(weak, dispatcher, generation);
        });
    loginStateToken_ =
        controller_->LoginStateChanged.Add([weak](const desktop_api_types::LoginStateResponse& state) {
            auto self = weak.lock();
            if (!self) return;
            const uint64_t generation = ++self->generation_;
            if (self->stopped_) return;
            self->CancelSignInRetry();
            OnLoginStateChanged(weak, state.logged_in, state.web_account, generation);
        });
}

void TokenManager::Stop() {
    // Flag first, then advance: a handler that advances the generation after us finds the flag set.
    if (stopped_.exchange(true)) return;
    ++generation_;
    {
        std::lock_guard lock(registrationLock_);
        if (controller_) {
            if (connectionStateToken_) controller_->ConnectionStateChanged.Remove(connectionStateToken_);
            if (loginStateToken_) controller_->LoginStateChanged.Remove(loginStateToken_);
        }
        connectionStateToken_ = {};
        loginStateToken_ = {};
    }
    CancelRefreshTimer();
    CancelSignInRetry();
    if (services_->sessions->HasRefreshInFlight()) {
        Logger::Instance().LogInfo("TokenManager: waiting for a token refresh to finish");
        if (!services_->sessions->WaitForRefreshes(kStopWaitForRefresh))
            Logger::Instance().LogError(
                "TokenManager: a token refresh was still running when the manager stopped");
    }
}

platform::FireAndForget TokenManager::OnConnectionLost(std::weak_ptr<TokenManager> weak,
                                                       std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                       uint64_t generation) {
    try {
        co_await platform::ResumeForeground(dispatcher);
    } catch (...) {
        co_return;  // the page's dispatcher is gone: nobody left to tell
    }
    auto self = weak.lock();
    if (!self || !self->IsCurrent(generation)) co_return;
    self->CancelRefreshTimer();
    self->loginStateCallback_(SignInState::SignedOut);
}

platform::FireAndForget TokenManager::OnLoginStateChanged(std::weak_ptr<TokenManager> weak, bool loggedIn,
                                                          bool webAccount, uint64_t generation, int attempt) {
    auto self = weak.lock();
    if (!self) co_return;
    const std::string& owner = self->ownerName_;
    if (attempt == 0) {
        Logger::Instance().LogInfo(
            owner + (loggedIn ? ": OnLoginStateChanged - logged in" : ": OnLoginStateChanged - logged out"));
    } else {
        Logger::Instance().LogInfo(owner + ": OnLoginStateChanged - signing in again (try " +
                                   std::to_string(attempt + 1) + ")");
    }

    bool outcome = loggedIn;
    int32_t expiresIn = 0;
    std::string userKey;
    const bool playerOnly = loggedIn && !webAccount;
    if (playerOnly) {
        // Nothing to sign in to: asking for a code would only be refused. No token is handed out either,
        // so nothing fetches a feed of whoever signed in before.
        Logger::Instance().LogInfo(owner + ": OnLoginStateChanged - no web account, playback only");
        std::lock_guard lock(self->lock_);
        self->userKey_.reset();
    } else if (loggedIn) {
        // The front end shows what plays while the tokens are on their way; the verdict follows on the
        // same dispatcher, so it cannot overtake this.
        if (attempt == 0) {
            self->dispatcher_->RunAsync([weak, generation] {
                auto manager = weak.lock();
                if (manager && manager->IsCurrent(generation))
                    manager->loginStateCallback_(SignInState::SigningIn);
            });
        }
        std::optional<std::string> userName = co_await self->controller_->GetCurrentUsernameAsync();
        if (!userName) {
            Logger::Instance().LogError(owner + ": GetCurrentUsernameAsync failed; aborting login");
            outcome = false;
        } else {
            userKey = UserKeyFor(*userName);
            {
                std::lock_guard lock(self->lock_);
                self->userKey_ = userKey;
            }
            CorvanaSignInResult refreshed = co_await RefreshAccessTokenAsync(userKey, self->services_);
            if (refreshed.status == 0) {
                expiresIn = refreshed.expiresIn;
            } else {
                Logger::Instance().LogError(owner +
                                            ": RefreshAccessTokenAsync failed, trying FetchAuthTokensAsync");
                CorvanaSignInResult fetched =
                    co_await FetchAuthTokensAsync(self->controller_, userKey, self->services_);
                if (fetched.status == 0) {
                    Logger::Instance().LogInfo(owner + ": FetchAuthTokensAsync succeeded");
                    expiresIn = fetched.expiresIn;
                } else {
                    Logger::Instance().LogError(owner + ": FetchAuthTokensAsync failed");
                    outcome = false;
                }
            }
        }
    }

    try {
        co_await platform::ResumeForeground(self->dispatcher_);
    } catch (...) {
        co_return;
    }
    // Superseded by a later event or by Stop(): the tokens it got stay stored, the newer state stands.
    if (!self->IsCurrent(generation)) co_return;
    if (playerOnly) {
        self->CancelRefreshTimer();
        self->loginStateCallback_(SignInState::PlayerOnly);
        co_return;
    }
    if (outcome) {
        self->StartRefreshTimer(expiresIn, userKey, generation);
    } else if (!loggedIn) {
        self->CancelRefreshTimer();  // a failed sign-in leaves a running timer alone
    } else {
        // The desktop app still reports its user (a logout or a lost connection would have started a new
        // generation): a refused code or a lost answer is no reason to stay signed out for good.
        self->StartSignInRetry(generation, attempt + 1);
        if (attempt == 0) self->loginStateCallback_(SignInState::RetryingSignIn);
        co_return;  // later failed tries change nothing the front end shows
    }
    self->loginStateCallback_(outcome ? SignInState::SignedIn : SignInState::SignedOut);
}

std::chrono::seconds TokenManager::SignInRetryDelay(int attempt) {
    std::chrono::seconds delay = kFirstSignInRetry;
    for (int i = 1; i < attempt && delay < kLongestSignInRetry; ++i) delay *= 2;
    return std::min(delay, kLongestSignInRetry);
}

void TokenManager::StartSignInRetry(uint64_t generation, int attempt) {
    const std::chrono::seconds delay = SignInRetryDelay(attempt);
    Logger::Instance().LogInfo(ownerName_ + ": OnLoginStateChanged - sign-in failed; trying again in " +
                               std::to_string(delay.count()) + " s");
    std::weak_ptr<TokenManager> weak = weak_from_this();
    std::function<void()> cancel = services_->startTimer(
        [weak, generation, attempt] {
            auto self = weak.lock();
            if (!self || self->stopped_ || !self->IsCurrent(generation)) return;
            // Only a sign-in to a web account fails and is tried again.
            OnLoginStateChanged(weak, true, /*webAccount=*/true, generation, attempt);
        },
        delay);
    {
        std::lock_guard lock(timerLock_);
        std::swap(cancel, cancelSignInRetry_);
    }
    if (cancel) cancel();
}

void TokenManager::CancelSignInRetry() {
    std::function<void()> cancel;
    {
        std::lock_guard lock(timerLock_);
        cancel = std::exchange(cancelSignInRetry_, nullptr);
    }
    if (cancel) cancel();
}

Task<CorvanaAuthCodeResult> TokenManager::GetAuthCodeAsync(std::shared_ptr<DesktopAPIController> controller,
                                                           std::string challenge) {
    try {
        auto answer = co_await controller->RequestAuthCodeAsync(
            std::string(CorvanaEndpoints::kClientId), challenge, std::string(CorvanaEndpoints::kScopes));
        co_return CorvanaAuthCodeResult{0, answer.auth_code};
    } catch (...) {
        Logger::Instance().LogError("TokenManager: GetAuthCodeAsync failed: " +
                                    FailureReason(std::current_exception()));
    }
    co_return CorvanaAuthCodeResult{2, {}};
}

Task<CorvanaSignInResult> TokenManager::FetchAuthTokensAsync(std::shared_ptr<DesktopAPIController> controller,
                                                             std::string userKey, Services services) {
    try {
        const std::string verifier = MakeCodeVerifier();
        const std::string challenge = CodeChallengeFor(verifier);
        CorvanaAuthCodeResult code = co_await GetAuthCodeAsync(controller, challenge);
        if (code.status != 0) co_return kSignInFailed;

        std::map<std::string, std::string> fields{
            {"code", code.code},
            {"grant_type", "authorization_code"},
            {"redirect_uri", std::string(CorvanaEndpoints::kRedirectUri)},
            {"client_id", std::string(CorvanaEndpoints::kClientId)},
            {"code_verifier", verifier}};
        platform::HttpResponseMessage response = co_await SendTokenRequest(*services, fields);
        if (response.statusCode != 200) {
            Logger::Instance().LogError("TokenManager: token request failed with status: " +
                                        std::to_string(response.statusCode));
            co_return kSignInFailed;
        }
        const TokenReply reply = TokenReply::Parse(response.content, /*requireRefreshToken=*/true);
        co_await platform::ResumeBlocking();
        StoreTokens(userKey, reply.accessToken, *reply.refreshToken, *services);
        co_return CorvanaSignInResult{0, reply.expiresIn};
    } catch (...) {
        Logger::Instance().LogError("TokenManager: FetchAuthTokensAsync failed: " +
                                    FailureReason(std::current_exception()));
    }
    co_return kSignInFailed;
}

Task<CorvanaSignInResult> TokenManager::RefreshAccessTokenAsync(std::string userKey, Services services) {
    SessionTokens::Joined joined = services->sessions->JoinRefresh(userKey);
    if (!joined.leads) {
        // The refresh on its way will rotate the refresh token: sending it a second time would be refused.
        co_await joined.refresh->done;
        co_return CorvanaSignInResult{joined.refresh->status, joined.refresh->expiresIn};
    }
    // Off the caller's thread first: were it a UI thread, the refresh would end there, and a Stop() waiting
    // on that thread for the refresh to end would wait its full time.
    co_await platform::ResumeBlocking();
    CorvanaSignInResult result = co_await RefreshUnderLockAsync(userKey, services);
    services->sessions->FinishRefresh(userKey, joined.refresh, result.status, result.expiresIn);
    co_return result;
}

Task<CorvanaSignInResult> TokenManager::RefreshUnderLockAsync(std::string userKey, Services services) {
    try {
        std::unique_ptr<platform::FileLock> lock = co_await LockRefreshesAsync(userKey, services);
        co_await platform::ResumeBlocking();
        // Read under the lock: another process may have rotated the token until a moment ago.
        std::optional<std::string> refreshToken = ReadRefreshToken(userKey, *services);
        if (!refreshToken) co_return kSignInFailed;
        platform::HttpResponseMessage response =
            co_await SendTokenRequest(*services, RefreshFields(*refreshToken));
        if (response.statusCode == 400) {
            // Refused. A different token in the vault now means someone refreshed after our read (a process
            // that could not take the lock): theirs is the live one.
            co_await platform::ResumeBlocking();
            StoredCredential stored = services->readCredential(userKey + kRefreshTokenSuffix);
            if (stored.found() && stored.password != *refreshToken) {
                refreshToken = stored.password;
                response = co_await SendTokenRequest(*services, RefreshFields(*refreshToken));
            }
        }
        if (response.statusCode != 200) {
            Logger::Instance().LogError("TokenManager: refresh token request failed with status: " +
                                        std::to_string(response.statusCode));
            co_return kSignInFailed;
        }
        const TokenReply reply = TokenReply::Parse(response.content, /*requireRefreshToken=*/false);
        co_await platform::ResumeBlocking();
        StoreTokens(userKey, reply.accessToken, reply.refreshToken.value_or(*refreshToken), *services);
        co_return CorvanaSignInResult{0, reply.expiresIn};
    } catch (...) {
        Logger::Instance().LogError("TokenManager: RefreshAccessTokenAsync failed: " +
                                    FailureReason(std::current_exception()));
    }
    co_return kSignInFailed;
}

Task<std::unique_ptr<platform::FileLock>> TokenManager::LockRefreshesAsync(std::string userKey,
                                                                           Services services) {
    if (services->lockFolder.empty()) co_return nullptr;
    auto lock =
        std::make_unique<platform::FileLock>(platform::JoinPath(services->lockFolder, userKey + ".lock"));
    const auto deadline = std::chrono::steady_clock::now() + kRefreshLockWait;
    bool waiting = false;
    try {
        while (!lock->TryLock()) {
            if (!waiting)
                Logger::Instance().LogInfo(
                    "TokenManager: waiting for another process to finish refreshing the tokens");
            waiting = true;
            if (std::chrono::steady_clock::now() >= deadline) {
                Logger::Instance().LogError(
                    "TokenManager: another process holds the token lock; refreshing without it");
                co_return nullptr;
            }
            co_await platform::ResumeAfter(std::chrono::milliseconds(20));
        }
    } catch (...) {
        Logger::Instance().LogError("TokenManager: cannot take the token lock; refreshing without it");
        co_return nullptr;
    }
    co_return lock;
}

std::string TokenManager::FormBody(const std::map<std::string, std::string>& fields) {
    // The map keeps the fields in ascending key order, and the body lists them so.
    std::string body;
    for (const auto& [key, value] : fields) {
        if (!body.empty()) body += '&';
        body += FormEncode(key) + "=" + FormEncode(value);
    }
    return body;
}

Task<platform::HttpResponseMessage> TokenManager::SendTokenRequest(
    const TokenManagerServices& services, const std::map<std::string, std::string>& fields) {
    platform::HttpRequestMessage request;
    request.method = platform::HttpMethod::Post;
    request.url = CorvanaEndpoints::TokenUrl();
    request.content = FormBody(fields);
    request.contentType = "application/x-www-form-urlencoded";
    return services.sendTokenRequest(std::move(request));
}

std::optional<std::string> TokenManager::ReadRefreshToken(const std::string& userKey,
                                                          const TokenManagerServices& services) {
    StoredCredential token =
        ReadToken(userKey, kRefreshTokenSuffix, &SessionTokens::Tokens::refreshToken, services);
    if (token.found()) return token.password;
    if (token.state == StoredCredential::State::Locked) {
        Logger::Instance().LogError("TokenManager: the vault is locked; no refresh token could be read");
    } else {
        Logger::Instance().LogError("TokenManager: no refresh token found in vault");
    }
    return std::nullopt;
}

std::optional<std::string> TokenManager::ReadAccessToken(const std::string& userKey,
                                                         const TokenManagerServices& services) {
    StoredCredential token =
        ReadToken(userKey, kAccessTokenSuffix, &SessionTokens::Tokens::accessToken, services);
    if (!token.found()) return std::nullopt;
    return token.password;
}

void TokenManager::StoreTokens(const std::string& userKey, const std::string& accessToken,
                               const std::string& refreshToken, const TokenManagerServices& services) {
    bool saved = services.saveCredentials(
        {{userKey + kAccessTokenSuffix, accessToken}, {userKey + kRefreshTokenSuffix, refreshToken}});
    if (!saved) Logger::Instance().LogError("TokenManager: failed to save user credentials");
    services.sessions->Remember(userKey, {accessToken, refreshToken, saved});
}

int64_t TokenManager::RefreshDelaySeconds(int64_t lifetimeSeconds) {
    if (lifetimeSeconds > 2 * kRefreshMarginSeconds) return lifetimeSeconds - kRefreshMarginSeconds;
    // A lifetime within twice the margin would put the refresh at once and loop: half the lifetime, and
    // never sooner than the spacing.
    return std::max(lifetimeSeconds / 2, kMinimumRefreshSpacingSeconds);
}

void TokenManager::StartRefreshTimer(int64_t lifetimeSeconds, const std::string& userKey,
                                     uint64_t generation) {
    const std::chrono::nanoseconds delay = std::chrono::seconds(RefreshDelaySeconds(lifetimeSeconds));
    std::weak_ptr<TokenManager> weak = weak_from_this();
    std::function<void()> cancel = services_->startTimer(
        [weak, dispatcher = dispatcher_, userKey, services = services_, generation] {
            OnRefreshTimer(weak, dispatcher, userKey, services, generation);
        },
        delay);
    {
        std::lock_guard lock(timerLock_);
        std::swap(cancel, cancelRefreshTimer_);
        refreshTimerDelay_ = delay;
    }
    if (cancel) cancel();  // the timer this one replaces
}

platform::FireAndForget TokenManager::OnRefreshTimer(std::weak_ptr<TokenManager> weak,
                                                     std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                     std::string userKey, Services services,
                                                     uint64_t generation) {
    // The refresh runs whether or not the manager still exists: the tokens stay usable.
    CorvanaSignInResult result = co_await RefreshAccessTokenAsync(userKey, services);
    try {
        co_await platform::ResumeForeground(dispatcher);
    } catch (...) {
        co_return;
    }
    auto self = weak.lock();
    if (!self || !self->IsCurrent(generation)) co_return;
    if (result.status == 0) {
        self->StartRefreshTimer(result.expiresIn, userKey, generation);
    } else {
        self->CancelRefreshTimer();
        self->loginStateCallback_(SignInState::SignedOut);  // no retry: the next login event starts over
    }
}

void TokenManager::CancelRefreshTimer() {
    std::function<void()> cancel;
    {
        std::lock_guard lock(timerLock_);
        cancel = std::move(cancelRefreshTimer_);
        cancelRefreshTimer_ = nullptr;
        refreshTimerDelay_.reset();
    }
    if (cancel) cancel();
}

std::optional<std::chrono::nanoseconds> TokenManager::RefreshTimerDelay() {
    std::lock_guard lock(timerLock_);
    return refreshTimerDelay_;
}

std::optional<std::string> TokenManager::GetAccessToken() {
    std::optional<std::string> userKey;
    {
        std::lock_guard lock(lock_);
        userKey = userKey_;
    }
    if (!userKey) return std::nullopt;
    return ReadAccessToken(*userKey, *services_);
}

Task<std::optional<std::string>> TokenManager::GetAccessTokenAsync() {
    std::optional<std::string> userKey;
    {
        std::lock_guard lock(lock_);
        userKey = userKey_;
    }
    Services services = services_;
    if (!userKey) co_return std::nullopt;
    co_await platform::ResumeBlocking();
    co_return ReadAccessToken(*userKey, *services);
}

Task<std::optional<std::string>> TokenManager::RefreshRejectedAccessTokenAsync(
    std::string rejectedAccessToken) {
    std::weak_ptr<TokenManager> weak = weak_from_this();
    const uint64_t generation = generation_.load();
    std::optional<std::string> userKey;
    {
        std::lock_guard lock(lock_);
        userKey = userKey_;
    }
    Services services = services_;
    std::shared_ptr<platform::CoreDispatcher> dispatcher = dispatcher_;
    if (!userKey) co_return std::nullopt;

    co_await platform::ResumeBlocking();
    // A refresh since the caller read the token has replaced it already: the newer one is the answer.
    std::optional<std::string> current = ReadAccessToken(*userKey, *services);
    if (current && *current != rejectedAccessToken) co_return current;

    CorvanaSignInResult result = co_await RefreshAccessTokenAsync(*userKey, services);
    bool onDispatcher = true;
    try {
        co_await platform::ResumeForeground(dispatcher);
    } catch (...) {
        onDispatcher = false;
    }
    if (auto self = weak.lock(); onDispatcher && self && self->IsCurrent(generation)) {
        if (result.status != 0) {
            self->CancelRefreshTimer();
            self->loginStateCallback_(SignInState::SignedOut);
        } else if (self->RefreshTimerDelay()) {
            self->StartRefreshTimer(result.expiresIn, *userKey, generation);  // timed from the new lifetime
        }
    }
    if (result.status != 0) co_return std::nullopt;
    co_await platform::ResumeBlocking();
    co_return ReadAccessToken(*userKey, *services);
}

std::string TokenManager::UserKeyFor(const std::string& userName) {
    return platform::Cryptography::Base64UrlEncode(platform::Cryptography::Sha256(userName));
}

std::string TokenManager::MakeCodeVerifier() {
    // Every character from the system's secure generator. Bytes at or above the largest multiple of the
    // alphabet's size are drawn again, so that no character is more likely than another.
    constexpr size_t kAlphabetSize = kVerifierAlphabet.size();
    constexpr unsigned kLimit = 256 - 256 % kAlphabetSize;
    std::string verifier;
    verifier.reserve(kVerifierLength);
    while (verifier.size() < kVerifierLength) {
        for (uint8_t byte : platform::Cryptography::SecureRandomBytes(kVerifierLength)) {
            if (byte >= kLimit) continue;
            verifier += kVerifierAlphabet[byte % kAlphabetSize];
            if (verifier.size() == kVerifierLength) break;
        }
    }
    return verifier;
}

std::string TokenManager::CodeChallengeFor(const std::string& verifier) {
    return platform::Cryptography::Base64UrlEncode(platform::Cryptography::Sha256(verifier));
}

}  // namespace utils
