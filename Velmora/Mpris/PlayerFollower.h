#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace velmora::mpris {

// Which player the widget follows. The one that most recently started playing (or was chosen) is
// followed, and it stays followed while it pauses, so that the widget's own pause and resume go to the
// same player. When it quits, the most recent of the others follows, one that plays before one that does
// not. A player that appears while none is followed, or that appears playing, is followed.
class PlayerFollower {
public:
    void Appeared(const std::string& id, bool playing);
    void PlayingChanged(const std::string& id, bool playing);  // started playing when `playing` goes true
    void Chosen(const std::string& id);
    void Vanished(const std::string& id);

    const std::optional<std::string>& Followed() const { return followed_; }

private:
    struct Entry {
        bool playing = false;
        uint64_t lastStarted = 0;  // 0: never played nor was chosen
        uint64_t appeared = 0;
    };

    std::map<std::string, Entry> players_;
    std::optional<std::string> followed_;
    uint64_t clock_ = 0;
};

}  // namespace velmora::mpris
