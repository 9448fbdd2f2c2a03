#pragma once

// Private to Platform/AppService: the bound both ends of a channel keep on their calls awaiting replies.

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <utility>

namespace platform::detail {

// The bus daemon refuses a connection's calls beyond its limit of calls awaiting replies (128 in its
// default configuration) with an error reply the other end never sees: a burst past it would lose
// messages, and whatever request came next with them. A gate lets at most `maxAwaiting` calls await
// their replies; later ones wait their turn in the order they came, so the last one sent is still the last
// one to arrive. Bus thread only, as are the calls it starts.
class CallGate {
public:
    // Sends the call; false when none went out (it has already failed its caller), so it holds no place.
    using Start = std::function<bool()>;
    // The call will never go out: its caller is told it failed.
    using Drop = std::function<void()>;

    CallGate(size_t maxAwaiting, size_t maxWaiting) : maxAwaiting_(maxAwaiting), maxWaiting_(maxWaiting) {}
    // Calls still waiting for their turn fail: none is lost without its caller knowing.
    ~CallGate() { DropWaiting(); }
    CallGate(const CallGate&) = delete;
    CallGate& operator=(const CallGate&) = delete;

    // Starts the call now if there is room and none is waiting, else keeps it for its turn. False, with
    // nothing run, when `maxWaiting` calls are waiting already.
    bool Submit(Start start, Drop drop) {
        if (waiting_.size() >= maxWaiting_) return false;
        waiting_.push_back({std::move(start), std::move(drop)});
        StartWaiting();
        return true;
    }

    // One call's reply (or error) is in: the oldest waiting calls take the room.
    void Done() {
        if (awaiting_ > 0) --awaiting_;
        StartWaiting();
    }

    // `calls` of those awaiting replies will never have one (their callbacks were dropped unrun): their
    // places go to the oldest waiting calls.
    void Forget(size_t calls) {
        awaiting_ -= std::min(calls, awaiting_);
        StartWaiting();
    }

    // Fails every waiting call, and forgets those awaiting replies (their replies will not be counted).
    void DropWaiting() {
        auto waiting = std::exchange(waiting_, {});
        awaiting_ = 0;
        for (auto& call : waiting) {
            if (call.drop) call.drop();
        }
    }

    size_t Awaiting() const { return awaiting_; }

private:
    struct Waiting {
        Start start;
        Drop drop;
    };

    void StartWaiting() {
        while (!waiting_.empty() && awaiting_ < maxAwaiting_) {
            Waiting next = std::move(waiting_.front());
            waiting_.pop_front();
            if (next.start()) ++awaiting_;
        }
    }

    const size_t maxAwaiting_;
    const size_t maxWaiting_;
    size_t awaiting_ = 0;
    std::deque<Waiting> waiting_;
};

}  // namespace platform::detail
