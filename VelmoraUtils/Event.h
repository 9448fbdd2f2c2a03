#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "Platform/Foundation/PlatformError.h"

namespace utils {

struct EventToken {
    uint64_t value = 0;
    explicit operator bool() const { return value != 0; }
};

// A multicast event. Handlers run in registration order on the raising thread, from a snapshot taken
// under the lock, so a handler may add or remove handlers (itself included) while it runs. A handler that
// throws is caught so the rest still run; one whose target is gone (the disconnected-object and
// server-unavailable errors) is removed.
template <typename Arg>
class Event {
public:
    using Handler = std::function<void(const Arg&)>;

    EventToken Add(Handler handler) {
        std::lock_guard lock(mutex_);
        EventToken token{nextToken_++};
        handlers_.emplace_back(token.value, std::move(handler));
        return token;
    }

    void Remove(EventToken token) {
        std::lock_guard lock(mutex_);
        std::erase_if(handlers_, [&](const auto& entry) { return entry.first == token.value; });
    }

    void Raise(const Arg& arg) {
        std::vector<std::pair<uint64_t, Handler>> snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = handlers_;
        }
        for (const auto& [token, handler] : snapshot) {
            try {
                handler(arg);
            } catch (const platform::PlatformError& error) {
                if (error.code() == platform::RPC_E_DISCONNECTED ||
                    error.code() == platform::RPC_S_SERVER_UNAVAILABLE) {
                    Remove(EventToken{token});
                }
            } catch (...) {
            }
        }
    }

    size_t HandlerCount() const {
        std::lock_guard lock(mutex_);
        return handlers_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<uint64_t, Handler>> handlers_;
    uint64_t nextToken_ = 1;
};

}  // namespace utils
