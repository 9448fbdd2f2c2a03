#include "VelmoraUtils/TokenManager.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Security/Cryptography.h"
#include "VelmoraUtils/CorvanaEndpoints.h"
#include "VelmoraUtils/Logger.h"
#include "VelmoraUtils/TokenStore.h"

namespace utils {

using platform::Task;

namespace {

constexpr const char* kAccessTokenSuffix = "CorvanaAccessToken";
constexpr const char* kRefreshTokenSuffix = "CorvanaRefreshToken";

void LogInfo(std::string_view message) {
    Logger::Instance().Log("INFO", message);
}
void LogError(std::string_view message) {
    Logger::Instance().LogError(message);
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

// "expires_in" truncated toward zero, kept inside the 32-bit range.
int32_t ExpiresIn(const nlohmann::json& body) {
    const auto& value = body.at("expires_in");
    if (!value.is_number())
        throw platform::PlatformError(platform::E_INVALIDARG, "expires_in is not a number");
    double seconds = std::trunc(value.get<double>());
    if (!std::isfinite(seconds))
        throw platform::PlatformError(platform::E_INVALIDARG, "expires_in is not finite");
    return static_cast<int32_t>(std::clamp<double>(seconds, std::numeric_limits<int32_t>::min(),
                                                   std::numeric_limits<int32_t>::max()));
}

const std::string& RequiredString(const nlohmann::json& body, const char* key) {
    return body.at(key).get_ref<const std::string&>();  // throws when missing or not a string
}

}  // namespace

TokenManagerServices TokenManagerServices::Default() {
    TokenManagerServices services;
    services.sendTokenRequest = [](platform::HttpRequestMessage request) {
        // A new client for every request, as the token exchange and refresh each stand alone.
        request.maxResponseBytes = 64 * 1024;
        return platform::HttpClient().SendRequestAsync(std::move(request));
    };
    services.readCredential = [](const std::string& userName) {
        return TokenStore::ReadCredential(userName);
    };
    services.saveCredentials = [](const std::map<std::string, std::string>& entries) {
        return TokenStore::SaveCredentials(entries);
    };
    return services;
}

std::shared_ptr<TokenManager> TokenManager::Create(std::shared_ptr<DesktopAPIController> controller,
                                                   std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                   LoginStateCallback loginStateCallback,
                                                   std::string ownerName, TokenManagerServices services) {
    std::shared_ptr<TokenManager> manager(new TokenManager(std::move(controller), std::move(dispatcher),
                                                           std::move(loginStateCallback),
                                                           std::move(ownerName), std::move(services)));
    manager->RegisterCallbacks();
    return manager;
}

TokenManager::TokenManager(std::shared_ptr<DesktopAPIController> controller,
                           std::shared_ptr<platform::CoreDispatcher> dispatcher,
                           LoginStateCallback loginStateCallback, std::string ownerName,
                           TokenManagerServices services)
    : controller_(std::move(controller)),
      dispatcher_(std::move(dispatcher)),
      loginStateCallback_(std::move(loginStateCallback)),
      ownerName_(std::move(ownerName)),
      services_(std::make_shared<const TokenManagerServices>(std::move(services))) {}

TokenManager::~TokenManager() {
    Stop();
}

void TokenManager::RegisterCallbacks() {
    std::weak_ptr<TokenManager> weak = weak_from_this();
    std::lock_guard lock(registrationLock_);
    connectionStateToken_ = controller_->ConnectionStateChanged.Add(
        [weak, dispatcher = dispatcher_](const desktop_api_types::ConnectionStateResponse& state) {
            if (!state.connected) OnConnectionLost(weak, dispatcher);
        });
    loginStateToken_ =
        controller_->LoginStateChanged.Add([weak](const desktop_api_types::LoginStateResponse& state) {
            OnLoginStateChanged(weak, state.logged_in);
        });
}

void TokenManager::Stop() {
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
}

platform::FireAndForget TokenManager::OnConnectionLost(std::weak_ptr<TokenManager> weak,
                                                       std::shared_ptr<platform::CoreDispatcher> dispatcher) {
    try {
        co_await platform::ResumeForeground(dispatcher);
    } catch (...) {
        co_return;  // the page's dispatcher is gone: nobody left to tell
    }
    auto self = weak.lock();
    if (!self) co_return;
    self->CancelRefreshTimer();
    self->loginStateCallback_(false);
}

platform::FireAndForget TokenManager::OnLoginStateChanged(std::weak_ptr<TokenManager> weak, bool loggedIn) {
    auto self = weak.lock();
    if (!self) co_return;
    const std::string& owner = self->ownerName_;
    LogInfo(owner + (loggedIn ? ": OnLoginStateChanged - logged in" : ": OnLoginStateChanged - logged out"));

    bool outcome = loggedIn;
    int32_t expiresIn = 0;
    std::string userKey;
    if (loggedIn) {
        std::optional<std::string> userName = co_await self->controller_->GetCurrentUsernameAsync();
        if (!userName) {
            LogError(owner + ": GetCurrentUsernameAsync failed; aborting login");
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
                LogError(owner + ": RefreshAccessTokenAsync failed, trying FetchAuthTokensAsync");
                CorvanaSignInResult fetched =
                    co_await FetchAuthTokensAsync(self->controller_, userKey, self->services_);
                if (fetched.status == 0) {
                    LogInfo(owner + ": FetchAuthTokensAsync succeeded");
                    expiresIn = fetched.expiresIn;
                } else {
                    LogError(owner + ": FetchAuthTokensAsync failed");
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
    if (outcome) {
        self->StartRefreshTimer(expiresIn, userKey);
    } else if (!loggedIn) {
        self->CancelRefreshTimer();  // a failed sign-in leaves a running timer alone
    }
    self->loginStateCallback_(outcome);
}

Task<CorvanaAuthCodeResult> TokenManager::GetAuthCodeAsync(std::shared_ptr<DesktopAPIController> controller,
                                                           std::string challenge) {
    try {
        auto answer = co_await controller->RequestAuthCodeAsync(
            std::string(CorvanaEndpoints::kClientId), challenge, std::string(CorvanaEndpoints::kScopes));
        co_return CorvanaAuthCodeResult{0, answer.auth_code};
    } catch (...) {
    }
    LogError("TokenManager: GetAuthCodeAsync failed");
    co_return CorvanaAuthCodeResult{2, {}};
}

Task<CorvanaSignInResult> TokenManager::FetchAuthTokensAsync(
    std::shared_ptr<DesktopAPIController> controller, std::string userKey,
    std::shared_ptr<const TokenManagerServices> services) {
    try {
        const std::string verifier = MakeCodeVerifier();
        const std::string challenge = CodeChallengeFor(verifier);
        CorvanaAuthCodeResult code = co_await GetAuthCodeAsync(controller, challenge);
        if (code.status != 0) co_return CorvanaSignInResult{2, 0};

        std::map<std::string, std::string> fields{
            {"code", code.code},
            {"grant_type", "authorization_code"},
            {"redirect_uri", std::string(CorvanaEndpoints::kRedirectUri)},
            {"client_id", std::string(CorvanaEndpoints::kClientId)},
            {"code_verifier", verifier}};
        platform::HttpResponseMessage response = co_await SendTokenRequest(*services, fields);
        if (response.statusCode != 200) {
            LogError("TokenManager: token request failed with status: " +
                     std::to_string(response.statusCode));
            co_return CorvanaSignInResult{2, 0};
        }
        auto body = nlohmann::json::parse(response.content);
        const std::string& accessToken = RequiredString(body, "access_token");
        const std::string& refreshToken = RequiredString(body, "refresh_token");
        int32_t expiresIn = ExpiresIn(body);
        if (!services->saveCredentials({{userKey + kAccessTokenSuffix, accessToken},
                                        {userKey + kRefreshTokenSuffix, refreshToken}})) {
            LogError("TokenManager: failed to save user credentials");
        }
        co_return CorvanaSignInResult{0, expiresIn};
    } catch (...) {
    }
    LogError("TokenManager: FetchAuthTokensAsync failed");
    co_return CorvanaSignInResult{2, 0};
}

Task<CorvanaSignInResult> TokenManager::RefreshAccessTokenAsync(
    std::string userKey, std::shared_ptr<const TokenManagerServices> services) {
    try {
        std::optional<std::string> stored = services->readCredential(userKey + kRefreshTokenSuffix);
        if (!stored) {
            LogError("TokenManager: no refresh token found in vault");
            co_return CorvanaSignInResult{2, 0};
        }
        std::map<std::string, std::string> fields{{"grant_type", "refresh_token"},
                                                  {"refresh_token", *stored},
                                                  {"client_id", std::string(CorvanaEndpoints::kClientId)}};
        platform::HttpResponseMessage response = co_await SendTokenRequest(*services, fields);
        if (response.statusCode != 200) {
            LogError("TokenManager: refresh token request failed with status: " +
                     std::to_string(response.statusCode));
            co_return CorvanaSignInResult{2, 0};
        }
        auto body = nlohmann::json::parse(response.content);
        const std::string& accessToken = RequiredString(body, "access_token");
        int32_t expiresIn = ExpiresIn(body);
        std::string refreshToken =
            body.contains("refresh_token") ? RequiredString(body, "refresh_token") : *stored;
        if (!services->saveCredentials({{userKey + kAccessTokenSuffix, accessToken},
                                        {userKey + kRefreshTokenSuffix, refreshToken}})) {
            LogError("TokenManager: failed to save user credentials");
        }
        co_return CorvanaSignInResult{0, expiresIn};
    } catch (...) {
    }
    LogError("TokenManager: RefreshAccessTokenAsync failed");
    co_return CorvanaSignInResult{2, 0};
}

Task<platform::HttpResponseMessage> TokenManager::SendTokenRequest(
    const TokenManagerServices& services, const std::map<std::string, std::string>& fields) {
    // The map keeps the fields in ascending key order, and the body lists them so.
    std::string body;
    for (const auto& [key, value] : fields) {
        if (!body.empty()) body += '&';
        body += FormEncode(key) + "=" + FormEncode(value);
    }
    platform::HttpRequestMessage request;
    request.method = platform::HttpMethod::Post;
    request.url = CorvanaEndpoints::TokenUrl();
    request.content = std::move(body);
    request.contentType = "application/x-www-form-urlencoded";
    return services.sendTokenRequest(std::move(request));
}

void TokenManager::StartRefreshTimer(int64_t lifetimeSeconds, const std::string& userKey) {
    CancelRefreshTimer();
    auto delay = std::chrono::seconds(std::max<int64_t>(0, lifetimeSeconds - kRefreshMarginSeconds));
    std::weak_ptr<TokenManager> weak = weak_from_this();
    auto timer = platform::ThreadPoolTimer::CreateTimer(
        [weak, dispatcher = dispatcher_, userKey, services = services_] {
            [](std::weak_ptr<TokenManager> weak, std::shared_ptr<platform::CoreDispatcher> dispatcher,
               std::string userKey,
               std::shared_ptr<const TokenManagerServices> services) -> platform::FireAndForget {
                // The refresh runs whether or not the manager still exists: the tokens stay usable.
                CorvanaSignInResult result = co_await RefreshAccessTokenAsync(userKey, services);
                try {
                    co_await platform::ResumeForeground(dispatcher);
                } catch (...) {
                    co_return;
                }
                auto self = weak.lock();
                if (!self) co_return;
                if (result.status == 0) {
                    self->StartRefreshTimer(result.expiresIn, userKey);
                } else {
                    self->loginStateCallback_(false);  // no retry: the next login event starts over
                }
            }(weak, dispatcher, userKey, services);
        },
        delay);
    std::lock_guard lock(timerLock_);
    refreshTimer_ = std::move(timer);
}

void TokenManager::CancelRefreshTimer() {
    std::shared_ptr<platform::ThreadPoolTimer> timer;
    {
        std::lock_guard lock(timerLock_);
        timer = std::move(refreshTimer_);
    }
    if (timer) timer->Cancel();
}

std::optional<std::chrono::nanoseconds> TokenManager::RefreshTimerDelay() {
    std::lock_guard lock(timerLock_);
    if (!refreshTimer_) return std::nullopt;
    return refreshTimer_->Delay();
}

std::optional<std::string> TokenManager::GetAccessToken() {
    std::optional<std::string> userKey;
    {
        std::lock_guard lock(lock_);
        userKey = userKey_;
    }
    if (!userKey) return std::nullopt;
    return services_->readCredential(*userKey + kAccessTokenSuffix);
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
