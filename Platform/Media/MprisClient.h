#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Foundation/Task.h"
#include "Platform/Media/MprisCommand.h"
#include "Platform/Media/MprisProperties.h"
#include "Platform/Threading/CoreDispatcher.h"

namespace platform {

// The media players of the session, over MPRIS: every bus name under "org.mpris.MediaPlayer2." is a
// player. The client reads each player's properties when it appears and follows its PropertiesChanged and
// Seeked signals from then on; it never polls.
//
// Handlers run on the dispatcher given at construction, one at a time, in the order the bus delivered the
// events, and never after the client is destroyed. A player's changes that arrive while an earlier change
// still waits for the dispatcher are merged into it, so a player that floods the bus costs one handler
// call per turn of the dispatcher, not one per signal. Every call to a player is asynchronous and ends
// within its time-out, whatever the player does.
class MprisClient {
public:
    struct Handlers {
        std::function<void(const std::string& busName, const MprisProperties& properties)> appeared;
        std::function<void(const std::string& busName, const MprisProperties& change)> changed;
        std::function<void(const std::string& busName, int64_t positionUs)> seeked;
        std::function<void(const std::string& busName)> vanished;
        // A player that could not be read (it left mid-call, did not answer, sent nonsense); for the log.
        std::function<void(const std::string& busName, const std::string& problem)> failed;
    };

    static constexpr const char* kBusNamePrefix = "org.mpris.MediaPlayer2.";
    static constexpr std::chrono::milliseconds kReadTimeout{2000};
    static constexpr std::chrono::milliseconds kCommandTimeout{3000};

    MprisClient(std::shared_ptr<CoreDispatcher> dispatcher, Handlers handlers);
    ~MprisClient();
    MprisClient(const MprisClient&) = delete;
    MprisClient& operator=(const MprisClient&) = delete;

    // Starts following the session's players. Completes once every player present then has been read
    // (its `appeared` delivered) or has failed: false when there is no session bus.
    Task<bool> StartAsync();
    // The player's answer: empty when it did what was asked, else why not (its D-Bus error, a time-out,
    // a player that is gone).
    Task<std::optional<std::string>> CallAsync(std::string busName, MprisCommand command);
    // The player's Position (microseconds), which no signal announces; empty when it could not be read.
    Task<std::optional<int64_t>> GetPositionAsync(std::string busName);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
