#include "tools/corvana-sim/Accounts.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <nlohmann/json.hpp>
#include <vector>

namespace corvanasim {

namespace {

constexpr int64_t kCodeLifetimeMs = 10 * 60 * 1000;

std::string Base64Url(const unsigned char* data, size_t length) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    uint32_t buffer = 0;
    int bits = 0;
    for (size_t i = 0; i < length; ++i) {
        buffer = (buffer << 8) | data[i];
        bits += 8;
        while (bits >= 6) {
            text += kAlphabet[(buffer >> (bits - 6)) & 63];
            bits -= 6;
        }
    }
    if (bits > 0) text += kAlphabet[(buffer << (6 - bits)) & 63];
    return text;
}

// RFC 7636: 43 to 128 characters of the unreserved set.
bool IsValidVerifier(const std::string& verifier) {
    if (verifier.size() < 43 || verifier.size() > 128) return false;
    for (char c : verifier) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~'))
            return false;
    }
    return true;
}

}  // namespace

std::string RandomToken(size_t bytes) {
    std::vector<unsigned char> data(bytes);
    RAND_bytes(data.data(), static_cast<int>(bytes));
    return Base64Url(data.data(), data.size());
}

std::string S256(const std::string& verifier) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr);
    return Base64Url(digest, length);
}

Accounts::Accounts(std::string clientId, std::string redirectUri, int32_t expiresInSeconds, Clock now)
    : clientId_(std::move(clientId)),
      redirectUri_(std::move(redirectUri)),
      expiresIn_(expiresInSeconds),
      now_(std::move(now)) {}

Accounts::Issued Accounts::IssueCode(const std::string& clientId, const std::string& challenge,
                                     const std::string& redirectUri, const std::string& user) {
    if (clientId != clientId_) return {std::nullopt, "Unknown client id"};
    if (redirectUri != redirectUri_) return {std::nullopt, "Redirect URI not registered for this client"};
    if (challenge.size() != 43) return {std::nullopt, "Invalid code challenge"};
    std::lock_guard lock(mutex_);
    std::string code = RandomToken(32);
    codes_[code] = Code{clientId, challenge, redirectUri, user, now_() + kCodeLifetimeMs};
    ++codesIssued_;
    return {code, ""};
}

Accounts::Answer Accounts::Error(const std::string& error, const std::string& description) {
    return {400, nlohmann::json{{"error", error}, {"error_description", description}}.dump()};
}

Accounts::Answer Accounts::IssueTokens(const std::string& user) {
    std::string access = RandomToken(48);
    std::string refresh = RandomToken(48);
    accessTokens_[access] = {user, now_() + int64_t{expiresIn_} * 1000};
    refreshTokens_[refresh] = user;
    nlohmann::json body{{"access_token", access},
                        {"token_type", "Bearer"},
                        {"expires_in", expiresIn_},
                        {"refresh_token", refresh},
                        {"scope", "playlist-read-private user-read-playback-state"}};
    return {200, body.dump()};
}

Accounts::Answer Accounts::Token(const std::map<std::string, std::string>& form) {
    auto field = [&](const char* name) -> std::string {
        auto it = form.find(name);
        return it == form.end() ? std::string() : it->second;
    };
    std::lock_guard lock(mutex_);
    const std::string grant = field("grant_type");
    ++tokenRequests_[grant.empty() ? "(none)" : grant];
    if (field("client_id") != clientId_) return Error("invalid_client", "Invalid client");

    if (grant == "authorization_code") {
        auto it = codes_.find(field("code"));
        if (it == codes_.end()) return Error("invalid_grant", "Invalid authorization code");
        Code& code = it->second;
        if (code.used) return Error("invalid_grant", "Authorization code already used");
        code.used = true;  // a code works once, even when the rest of this request is wrong
        if (code.expiresAt < now_()) return Error("invalid_grant", "Authorization code expired");
        if (field("redirect_uri") != code.redirectUri) return Error("invalid_grant", "Invalid redirect URI");
        const std::string verifier = field("code_verifier");
        if (!IsValidVerifier(verifier)) return Error("invalid_request", "Invalid code verifier");
        if (S256(verifier) != code.challenge) return Error("invalid_grant", "code_verifier was incorrect");
        return IssueTokens(code.user);
    }
    if (grant == "refresh_token") {
        auto it = refreshTokens_.find(field("refresh_token"));
        if (it == refreshTokens_.end()) return Error("invalid_grant", "Invalid refresh token");
        std::string user = it->second;
        refreshTokens_.erase(it);  // rotation: the old refresh token is spent
        return IssueTokens(user);
    }
    return Error("unsupported_grant_type", "grant_type must be authorization_code or refresh_token");
}

std::optional<std::string> Accounts::UserOfAccessToken(const std::string& token) {
    std::lock_guard lock(mutex_);
    auto it = accessTokens_.find(token);
    if (it == accessTokens_.end() || it->second.expiresAt <= now_()) return std::nullopt;
    return it->second.user;
}

void Accounts::ExpireAccessTokens() {
    std::lock_guard lock(mutex_);
    for (auto& [token, access] : accessTokens_) access.expiresAt = 0;
}

void Accounts::SetExpiresIn(int32_t seconds) {
    std::lock_guard lock(mutex_);
    expiresIn_ = seconds;
}

std::map<std::string, int> Accounts::TokenRequestsByGrant() {
    std::lock_guard lock(mutex_);
    return tokenRequests_;
}

int Accounts::CodesIssued() {
    std::lock_guard lock(mutex_);
    return codesIssued_;
}

}  // namespace corvanasim
