#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The track a player reports (its Metadata), with every entry optional: players leave out what they do
// not know, and some send entries of other types than the MPRIS specification names.
struct MprisMetadata {
    std::optional<std::string> trackId;  // an object path by MPRIS; a text from some players
    std::optional<std::string> title;
    std::optional<std::vector<std::string>> artists;
    std::optional<std::string> album;
    std::optional<std::string> artUrl;
    std::optional<int64_t> lengthUs;

    bool operator==(const MprisMetadata&) const = default;
};

// The properties of one player (org.mpris.MediaPlayer2 and org.mpris.MediaPlayer2.Player). As a change,
// only what changed is set; Merge lays a change over what was known.
struct MprisProperties {
    std::optional<std::string> identity;
    std::optional<std::vector<std::string>> supportedUriSchemes;
    std::optional<std::string> playbackStatus;  // "Playing", "Paused" or "Stopped"
    std::optional<std::string> loopStatus;      // "None", "Track" or "Playlist"
    std::optional<double> rate;
    std::optional<bool> shuffle;
    std::optional<MprisMetadata> metadata;  // always whole: players send it whole
    std::optional<double> volume;
    std::optional<int64_t> positionUs;
    std::optional<bool> canGoNext, canGoPrevious, canPlay, canPause, canSeek, canControl;
    // What could not be read, one text per entry (a value of a type the entry cannot have), for the log.
    std::vector<std::string> problems;

    void Merge(const MprisProperties& change);
    bool Empty() const;
};

}  // namespace platform
