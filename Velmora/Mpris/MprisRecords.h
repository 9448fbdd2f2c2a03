#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/ValueSet.h"
#include "Velmora/Mpris/MprisPlayer.h"

namespace velmora::mpris {

// The desktop records of the channel, made from the players: what the Corvana desktop app would send,
// said of an MPRIS player.
class MprisRecords {
public:
    // The playback state of the followed player; without one, an inactive state with every control
    // disallowed.
    static platform::ValueSet PlaybackState(const MprisPlayer* followed, MprisPlayer::Clock::time_point now,
                                            int64_t nowEpochMs);
    // The players as devices, in the order given; two with the same name are told apart by a number.
    static platform::ValueSet Cluster(const std::vector<const MprisPlayer*>& players,
                                      const std::optional<std::string>& followedId);
    static platform::ValueSet ActiveDevice(const std::optional<std::string>& followedId);
    // Logged in while there is a player to show; never with a Corvana account.
    static platform::ValueSet LoginState(bool anyPlayer);
    static std::string TrackUri(const MprisPlayer& player);
};

}  // namespace velmora::mpris
