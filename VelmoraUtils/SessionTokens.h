#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Threading/ManualResetEvent.h"

namespace utils {

// This process's own record of its sign-ins, beside the vault: each user's latest tokens in memory, so a
// session outlives a vault that cannot store it, and the one refresh per user that may be in flight, which
// later askers join instead of spending the rotating refresh token a second time. Keyed by user key;
// thread-safe.
class SessionTokens {
public:
    struct Tokens {
        std::string accessToken;
        std::string refreshToken;
        // False when the vault refused them: it then holds older tokens or none, and these come first.
        bool savedToVault = false;
    };

    // A refresh on its way. Its status (0 success, 2 failure) and lifetime are set before `done`.
    struct Refresh {
        platform::ManualResetEvent done;
        int32_t status = 2;
        int32_t expiresIn = 0;
    };
    struct Joined {
        std::shared_ptr<Refresh> refresh;
        bool leads = false;  // the caller performs the refresh and must call FinishRefresh
    };

    // The one every token manager of the process shares.
    static std::shared_ptr<SessionTokens> ForProcess();

    std::optional<Tokens> Remembered(const std::string& userKey);
    void Remember(const std::string& userKey, Tokens tokens);

    // Joins the user's refresh in flight, or starts one when there is none.
    Joined JoinRefresh(const std::string& userKey);
    void FinishRefresh(const std::string& userKey, const std::shared_ptr<Refresh>& refresh, int32_t status,
                       int32_t expiresIn);
    bool HasRefreshInFlight();
    // Blocks until no refresh is in flight or the timeout has passed; true when none is left.
    bool WaitForRefreshes(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable refreshesChanged_;
    std::map<std::string, Tokens> tokens_;
    std::map<std::string, std::shared_ptr<Refresh>> refreshes_;
};

}  // namespace utils
