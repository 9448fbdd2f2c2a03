#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace corvanasim {

// The accounts service: one-time authorization codes bound to a client, a PKCE challenge and a redirect
// URI; access and refresh tokens with expiry; refresh tokens that rotate on use. Thread-safe: the desktop
// side issues codes, the HTTPS side redeems them.
class Accounts {
public:
    using Clock = std::function<int64_t()>;  // milliseconds since the epoch

    Accounts(std::string clientId, std::string redirectUri, int32_t expiresInSeconds, Clock now);

    struct Issued {
        std::optional<std::string> code;
        std::string error;  // when there is no code
    };
    Issued IssueCode(const std::string& clientId, const std::string& challenge,
                     const std::string& redirectUri, const std::string& user);

    // The token endpoint: a form in, an HTTP status and a JSON body out.
    struct Answer {
        int status;
        std::string body;
    };
    Answer Token(const std::map<std::string, std::string>& form);

    // The user an unexpired access token belongs to.
    std::optional<std::string> UserOfAccessToken(const std::string& token);
    void ExpireAccessTokens();
    void SetExpiresIn(int32_t seconds);

    std::map<std::string, int> TokenRequestsByGrant();
    int CodesIssued();

private:
    struct Code {
        std::string clientId, challenge, redirectUri, user;
        int64_t expiresAt;
        bool used = false;
    };
    struct Access {
        std::string user;
        int64_t expiresAt;
    };
    Answer IssueTokens(const std::string& user);
    static Answer Error(const std::string& error, const std::string& description);

    std::mutex mutex_;
    const std::string clientId_;
    const std::string redirectUri_;
    int32_t expiresIn_;
    Clock now_;
    std::map<std::string, Code> codes_;
    std::map<std::string, Access> accessTokens_;
    std::map<std::string, std::string> refreshTokens_;  // token -> user
    std::map<std::string, int> tokenRequests_;
    int codesIssued_ = 0;
};

// Unpadded base64url of fresh random bytes.
std::string RandomToken(size_t bytes);
// The S256 transformation of a code verifier.
std::string S256(const std::string& verifier);

}  // namespace corvanasim
