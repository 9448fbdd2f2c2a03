#pragma once

#include <cstdint>
#include <string>

namespace platform {

// One call to a player: a method of org.mpris.MediaPlayer2.Player, or the setting of one of its
// properties.
struct MprisCommand {
    enum class Kind {
        Play,
        Pause,
        Next,
        Previous,
        Seek,
        SetPosition,
        OpenUri,
        SetShuffle,
        SetLoopStatus,
        SetVolume
    };

    Kind kind = Kind::Play;
    int64_t microseconds = 0;  // Seek's offset, SetPosition's position
    std::string text;          // SetPosition's track id, OpenUri's URI, SetLoopStatus's status
    bool flag = false;         // SetShuffle
    double number = 0;         // SetVolume

    static MprisCommand Of(Kind kind) {
        MprisCommand command;
        command.kind = kind;
        return command;
    }
};

}  // namespace platform
