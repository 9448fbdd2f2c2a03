#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

// A multicast event of the platform objects (window, frame, Game Bar widget). Handlers may be added and
// removed from any thread; they run on the raising thread, in registration order, from a snapshot, so a
// handler may add or remove handlers (itself included) while it runs; one removed meanwhile is skipped.
// Unlike the events of the core, an exception from a handler goes to the raiser: the platform reports a
// failing handler to whoever raised the event, and the later handlers do not run.
template <typename... Args>
class EventSource {
public:
    using Handler = std::function<void(Args...)>;
    using Token = uint64_t;  // 0 is never handed out

    Token Add(Handler handler) {
        std::lock_guard lock(mutex_);
        Token token = nextToken_++;
        handlers_.emplace_back(token, std::make_shared<Handler>(std::move(handler)));
        return token;
    }

    void Remove(Token token) {
        std::lock_guard lock(mutex_);
        std::erase_if(handlers_, [&](const auto& entry) { return entry.first == token; });
    }

    void Raise(Args... args) {
        std::vector<std::pair<Token, std::shared_ptr<Handler>>> snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = handlers_;
        }
        for (const auto& [token, handler] : snapshot) {
            if (!IsRegistered(token)) continue;
            (*handler)(args...);
        }
    }

    size_t Count() const {
        std::lock_guard lock(mutex_);
        return handlers_.size();
    }

private:
    bool IsRegistered(Token token) const {
        std::lock_guard lock(mutex_);
        return std::any_of(handlers_.begin(), handlers_.end(),
                           [&](const auto& entry) { return entry.first == token; });
    }

    mutable std::mutex mutex_;
    std::vector<std::pair<Token, std::shared_ptr<Handler>>> handlers_;
    Token nextToken_ = 1;
};

}  // namespace platform
