#include "VelmoraUtils/SessionTokens.h"

namespace utils {

std::shared_ptr<SessionTokens> SessionTokens::ForProcess() {
    static const std::shared_ptr<SessionTokens> sessions = std::make_shared<SessionTokens>();
    return sessions;
}

std::optional<SessionTokens::Tokens> SessionTokens::Remembered(const std::string& userKey) {
    std::lock_guard lock(mutex_);
    auto it = tokens_.find(userKey);
    if (it == tokens_.end()) return std::nullopt;
    return it->second;
}

void SessionTokens::Remember(const std::string& userKey, Tokens tokens) {
    std::lock_guard lock(mutex_);
    tokens_[userKey] = std::move(tokens);
}

SessionTokens::Joined SessionTokens::JoinRefresh(const std::string& userKey) {
    std::lock_guard lock(mutex_);
    auto& refresh = refreshes_[userKey];
    if (refresh) return {refresh, false};
    refresh = std::make_shared<Refresh>();
    return {refresh, true};
}

void SessionTokens::FinishRefresh(const std::string& userKey, const std::shared_ptr<Refresh>& refresh,
                                  int32_t status, int32_t expiresIn) {
    refresh->status = status;
    refresh->expiresIn = expiresIn;
    {
        std::lock_guard lock(mutex_);
        auto it = refreshes_.find(userKey);
        if (it != refreshes_.end() && it->second == refresh) refreshes_.erase(it);
        refreshesChanged_.notify_all();
    }
    refresh->done.Set();
}

bool SessionTokens::HasRefreshInFlight() {
    std::lock_guard lock(mutex_);
    return !refreshes_.empty();
}

bool SessionTokens::WaitForRefreshes(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return refreshesChanged_.wait_for(lock, timeout, [&] { return refreshes_.empty(); });
}

}  // namespace utils
