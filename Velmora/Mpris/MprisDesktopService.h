#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppService/AppServiceHost.h"
#include "Platform/Foundation/Task.h"
#include "Platform/Foundation/ValueSet.h"
#include "Platform/Media/MprisClient.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "Velmora/Mpris/MprisPlayer.h"
#include "Velmora/Mpris/PlayerFollower.h"
#include "Velmora/Mpris/PushThrottle.h"

namespace velmora::mpris {

// The desktop app's end of the Corvana channel, played for the session's MPRIS players: it answers the
// widget's requests from the followed player, turns its commands into MPRIS calls, and pushes the login,
// playback and active-device notifications as the players change. There is no Corvana account behind it:
// the login state says so ("web_account" false), and the requests that need one are refused.
//
// All its state lives on one dispatcher thread; the bus ends (the players, the channel) deliver there.
class MprisDesktopService : public std::enable_shared_from_this<MprisDesktopService> {
public:
    static constexpr const char* kServiceName = "corvana.partnerApi";
    // The least time between two playback pushes while a player keeps changing.
    static constexpr std::chrono::milliseconds kPushInterval{20};

    // `busLost` runs (on the dispatcher) when the session bus has gone: the service can do nothing more.
    static std::shared_ptr<MprisDesktopService> Create(std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                       std::function<void()> busLost = {});

    // Reads the players first, so that the first answer on the channel already shows what plays, then asks
    // for the name. False when there is no session bus or the bus refused the name.
    platform::Task<bool> StartAsync();

private:
    struct Channel {
        std::string client;
        bool login = false, playback = false, device = false;
    };

    explicit MprisDesktopService(std::shared_ptr<platform::CoreDispatcher> dispatcher);
    void Wire(std::function<void()> busLost);

    // The players (dispatcher thread).
    void OnAppeared(const std::string& busName, const platform::MprisProperties& properties);
    void OnChanged(const std::string& busName, const platform::MprisProperties& change);
    void OnSeeked(const std::string& busName, int64_t positionUs);
    void OnVanished(const std::string& busName);
    MprisPlayer* Find(const std::string& busName);
    MprisPlayer* FindDevice(const std::string& deviceId);
    MprisPlayer* Followed();
    // After anything that may have changed which player is followed.
    void AfterFollowing(const std::optional<std::string>& before);
    void PlaybackChanged(bool positionStale);

    // The channel (dispatcher thread).
    platform::Task<platform::ValueSet> Handle(std::string client, platform::ValueSet message);
    platform::Task<platform::ValueSet> Command(platform::MprisCommand command, std::string action);
    void Subscribe(const std::string& client, const std::string& method);

    void FlushPlayback();
    static platform::FireAndForget ReadPositionThenPush(std::weak_ptr<MprisDesktopService> weak,
                                                        std::string busName);
    void PushPlayback();
    void PushLogin();
    void PushActiveDevice();
    void Push(uint64_t channel, const std::string& method, platform::ValueSet params);
    platform::ValueSet CurrentPlaybackState();

    const std::shared_ptr<platform::CoreDispatcher> dispatcher_;
    std::unique_ptr<platform::MprisClient> players_;
    std::unique_ptr<platform::AppServiceHost> host_;
    std::shared_ptr<PushThrottle> throttle_;

    std::vector<std::unique_ptr<MprisPlayer>> known_;  // in the order they appeared
    PlayerFollower follower_;
    std::map<uint64_t, Channel> channels_;

    bool positionStale_ = true;
    bool positionReading_ = false;
    // The last playback state pushed, less its time and position, and where its position was headed, so
    // that an unchanged state is not pushed again.
    std::optional<platform::ValueSet> lastPushed_;
    int64_t lastPushedPositionMs_ = 0;
    MprisPlayer::Clock::time_point lastPushedAt_{};
};

}  // namespace velmora::mpris
