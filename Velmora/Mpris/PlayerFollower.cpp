#include "Velmora/Mpris/PlayerFollower.h"

#include <tuple>

namespace velmora::mpris {

void PlayerFollower::Appeared(const std::string& id, bool playing) {
    Entry& entry = players_[id];
    entry.appeared = ++clock_;
    entry.playing = playing;
    if (playing) entry.lastStarted = clock_;
    if (playing || !followed_) followed_ = id;
}

void PlayerFollower::PlayingChanged(const std::string& id, bool playing) {
    auto it = players_.find(id);
    if (it == players_.end()) return;
    const bool started = playing && !it->second.playing;
    it->second.playing = playing;
    if (!started) return;
    it->second.lastStarted = ++clock_;
    followed_ = id;
}

void PlayerFollower::Chosen(const std::string& id) {
    auto it = players_.find(id);
    if (it == players_.end()) return;
    it->second.lastStarted = ++clock_;
    followed_ = id;
}

void PlayerFollower::Vanished(const std::string& id) {
    players_.erase(id);
    if (followed_ != id) return;
    followed_.reset();
    std::tuple<bool, uint64_t, uint64_t> best{};
    for (const auto& [candidate, entry] : players_) {
        std::tuple<bool, uint64_t, uint64_t> key{entry.playing, entry.lastStarted, entry.appeared};
        if (!followed_ || key > best) {
            best = key;
            followed_ = candidate;
        }
    }
}

}  // namespace velmora::mpris
