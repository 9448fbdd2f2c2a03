#pragma once

// Private to Platform/AppService: the bound both ends of a channel keep on their calls awaiting replies.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <utility>

namespace platform::detail {

// The bus daemon refuses a connection's calls beyond its limit of calls awaiting replies (128 in its
// default configuration) with an error reply the other end never sees: a burst past it would lose
// messages, and whatever request came next with them. A gate lets at most `maxAwaiting` calls await
// their replies; later ones wait their turn in the order they came, so the last one sent is still the last
// one to arrive. Bus thread only, as are the calls it starts.
//
// Calls come in lanes (a host's channels, one per client), each kept in its own order. A lane holds at
// most `maxAwaitingPerLane` of the places, and a freed place goes to the lanes with calls waiting in turn:
// a client that never answers keeps only its own lane's places, each until its call times out, while the
// other lanes' calls go on. Each lane has room for `maxWaiting` waiting calls.
class CallGate {
public:
    // Sends the call; false when none went out (it has already failed its caller), so it holds no place.
    using Start = std::function<bool()>;
    // The call will never go out: its caller is told it failed.
    using Drop = std::function<void()>;

    CallGate(size_t maxAwaiting, size_t maxWaiting,
             size_t maxAwaitingPerLane = std::numeric_limits<size_t>::max())
        : maxAwaiting_(maxAwaiting), maxWaiting_(maxWaiting), maxAwaitingPerLane_(maxAwaitingPerLane) {}
    // Calls still waiting for their turn fail: none is lost without its caller knowing.
    ~CallGate() { DropWaiting(); }
    CallGate(const CallGate&) = delete;
    CallGate& operator=(const CallGate&) = delete;

    // Starts the call now if there is room and none of its lane is waiting, else keeps it for its turn.
    // False, with nothing run, when `maxWaiting` calls of the lane are waiting already.
    bool Submit(Start start, Drop drop) { return Submit(0, std::move(start), std::move(drop)); }
    bool Submit(uint64_t lane, Start start, Drop drop) {
        auto& calls = lanes_[lane];
        if (calls.waiting.size() >= maxWaiting_) {
            ForgetIfIdle(lanes_.find(lane));
            return false;
        }
        calls.waiting.push_back({std::move(start), std::move(drop)});
        StartWaiting();
        return true;
    }

    // One call's reply (or error) is in: its place goes to the next waiting call.
    void Done(uint64_t lane = 0) {
        auto calls = lanes_.find(lane);
        if (calls == lanes_.end() || calls->second.awaiting == 0) return;
        --calls->second.awaiting;
        --awaiting_;
        ForgetIfIdle(calls);
        StartWaiting();
    }

    // The lane is closed: its waiting calls fail, and those awaiting replies will never have one (their
    // callbacks were dropped unrun), so their places go to the other lanes.
    void DropLane(uint64_t lane) {
        auto calls = lanes_.find(lane);
        if (calls == lanes_.end()) return;
        Lane dropped = std::move(calls->second);
        lanes_.erase(calls);
        awaiting_ -= std::min(dropped.awaiting, awaiting_);
        for (auto& call : dropped.waiting) {
            if (call.drop) call.drop();
        }
        StartWaiting();
    }

    // Fails every waiting call, and forgets those awaiting replies (their replies will not be counted).
    void DropWaiting() {
        auto lanes = std::exchange(lanes_, {});
        awaiting_ = 0;
        for (auto& [id, calls] : lanes) {
            for (auto& call : calls.waiting) {
                if (call.drop) call.drop();
            }
        }
    }

    size_t Awaiting() const { return awaiting_; }

private:
    struct Waiting {
        Start start;
        Drop drop;
    };
    struct Lane {
        std::deque<Waiting> waiting;
        size_t awaiting = 0;
    };
    using Lanes = std::map<uint64_t, Lane>;

    void ForgetIfIdle(Lanes::iterator calls) {
        if (calls != lanes_.end() && calls->second.waiting.empty() && calls->second.awaiting == 0)
            lanes_.erase(calls);
    }

    // The first lane from the one after the last served, round, that has a call waiting and room for it.
    Lanes::iterator NextLane() {
        auto ready = [this](const Lanes::value_type& calls) {
            return !calls.second.waiting.empty() && calls.second.awaiting < maxAwaitingPerLane_;
        };
        auto from = lanes_.lower_bound(nextTurn_);
        if (auto next = std::find_if(from, lanes_.end(), ready); next != lanes_.end()) return next;
        auto next = std::find_if(lanes_.begin(), from, ready);
        return next == from ? lanes_.end() : next;
    }

    void StartWaiting() {
        while (awaiting_ < maxAwaiting_) {
            auto calls = NextLane();
            if (calls == lanes_.end()) return;
            const uint64_t lane = calls->first;
            nextTurn_ = lane + 1;
            Waiting next = std::move(calls->second.waiting.front());
            calls->second.waiting.pop_front();
            const bool sent = next.start();
            // Looked up again: starting a call may have closed its lane.
            calls = lanes_.find(lane);
            if (calls == lanes_.end()) continue;
            if (sent) {
                ++calls->second.awaiting;
                ++awaiting_;
            }
            ForgetIfIdle(calls);
        }
    }

    const size_t maxAwaiting_;
    const size_t maxWaiting_;
    const size_t maxAwaitingPerLane_;
    size_t awaiting_ = 0;
    uint64_t nextTurn_ = 0;
    Lanes lanes_;
};

}  // namespace platform::detail
