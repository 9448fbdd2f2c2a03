#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "Platform/Media/MprisProperties.h"

namespace velmora::mpris {

// One player of the session as velmora-mpris knows it: the properties it reported, what of them is fit to
// show (texts cut to a size, a cover only where the widget can load it), and where its position was when
// last read, so that the position can be told at any moment without asking the player again.
class MprisPlayer {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr size_t kMaxTextBytes = 1024;

    // What one change meant.
    struct Effect {
        bool startedPlaying = false;  // it went into Playing
        bool positionStale = false;   // what the position is measured from changed: read it again
    };

    MprisPlayer(std::string busName, std::string deviceId, const platform::MprisProperties& properties,
                Clock::time_point now);

    // The device id of a player's bus name ("org.mpris.MediaPlayer2.mpv.instance42" -> "mpv.instance42"),
    // or empty when that suffix is no id the widget can carry.
    static std::string DeviceIdFor(const std::string& busName);
    // The longest prefix of at most `maxBytes` bytes that ends on a whole character: a text cut inside
    // one is no valid UTF-8, and the bus refuses a message that holds it.
    static std::string Cut(const std::string& text, size_t maxBytes);

    Effect Apply(const platform::MprisProperties& change, Clock::time_point now);
    void Seeked(int64_t positionUs, Clock::time_point now);
    void SamplePosition(int64_t positionUs, Clock::time_point now);

    const std::string& BusName() const { return busName_; }
    const std::string& DeviceId() const { return deviceId_; }
    const platform::MprisProperties& Properties() const { return properties_; }
    // The identity, or the device id for a player that gives none.
    std::string Name() const;
    bool IsPlaying() const;
    bool IsStopped() const;
    // The position now, moved on from the last reading at the player's rate while it plays; within the
    // track's length.
    int64_t PositionUsAt(Clock::time_point now) const;
    std::optional<int64_t> LengthUs() const;
    // Rate only where it is a rate (finite, above 0, at most 100).
    std::optional<double> Rate() const;
    bool HasTrack() const;

    // What to show, fit for the widget.
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    const std::string& Image() const { return image_; }

private:
    void Refresh();
    std::string Fit(const char* what, const std::optional<std::string>& text);
    std::string CheckedImage(const std::optional<std::string>& url);
    // Logs a problem the first time it is seen for this player: a player that floods the bus with the
    // same fault costs one line.
    void Report(const std::string& problem);

    std::string busName_;
    std::string deviceId_;
    platform::MprisProperties properties_;
    int64_t sampledPositionUs_ = 0;
    Clock::time_point sampledAt_;
    std::string title_, artist_, album_, image_;
    std::set<std::string> reported_;
};

}  // namespace velmora::mpris
