#include "Velmora/WebView/PageTrafficLimit.h"

#include <algorithm>
#include <utility>

namespace velmora {

PageTrafficLimit::PageTrafficLimit(Now now) : now_(std::move(now)) {}

bool PageTrafficLimit::Admit(std::string_view kind, double perSecond) {
    const Clock::time_point now = now_();
    auto bucket = buckets_.find(kind);
    if (bucket == buckets_.end()) bucket = buckets_.emplace(std::string(kind), Bucket{perSecond, now}).first;
    const std::chrono::duration<double> elapsed = now - bucket->second.filledAt;
    bucket->second.tokens = std::min(perSecond, bucket->second.tokens + elapsed.count() * perSecond);
    bucket->second.filledAt = now;
    if (bucket->second.tokens < 1) return false;
    bucket->second.tokens -= 1;
    return true;
}

std::optional<size_t> PageTrafficLimit::MayLog() {
    const Clock::time_point now = now_();
    if (loggedAt_ && now - *loggedAt_ < std::chrono::seconds(1)) {
        ++heldBack_;
        return std::nullopt;
    }
    loggedAt_ = now;
    return std::exchange(heldBack_, 0);
}

}  // namespace velmora
