#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Foundation/Task.h"
#include "VelmoraUtils/DesktopApiTypes.h"
#include "VelmoraUtils/Event.h"
#include "VelmoraUtils/IDesktopAPIConnection.h"

namespace utils {

// Which front end is talking; it decides the feature identifier of the handshake.
enum class WidgetMode : int32_t { Native = 0, WebView = 1 };

enum class PlaybackAction : int32_t { Play = 0, Pause = 1, Resume = 2, Previous = 3, Next = 4 };

// The one object through which the front ends and the token manager talk to the desktop app: it
// connects (retrying while the app is away), identifies the widget, subscribes to login, playback and
// device state, turns pushed messages into typed events and sends the playback, library and device
// commands.
//
// Events are raised on background threads; handlers marshal to their own UI thread themselves.
class DesktopAPIController : public std::enable_shared_from_this<DesktopAPIController> {
public:
    static constexpr std::chrono::nanoseconds kRetryPeriod = std::chrono::seconds(5);

    static std::shared_ptr<DesktopAPIController> Create(std::unique_ptr<IDesktopAPIConnection> connection,
                                                        WidgetMode mode,
                                                        std::chrono::nanoseconds retryPeriod = kRetryPeriod);
    // Waits for a running retry loop to notice, which takes at most one retry period.
    ~DesktopAPIController();

    Event<desktop_api_types::LoginStateResponse> LoginStateChanged;
    Event<desktop_api_types::ConnectionStateResponse> ConnectionStateChanged;
    Event<desktop_api_types::PlaybackStateResponse> PlaybackStateChanged;
    Event<desktop_api_types::ConnectActiveDeviceResponse> ActiveDeviceChanged;
    Event<desktop_api_types::ConnectClusterResponse> DevicesChanged;

    // Opens the channel, or starts the retry loop when that fails. Runs detached.
    platform::Task<void> ConnectAsync();
    void Reconnect();

    platform::Task<void> IdentifyWithClientID();
    platform::Task<void> SubscribeToLoginState();
    platform::Task<void> SubscribeToPlaybackAndDevice();

    // Fire-and-forget commands: each logs its failure and never fails outward. The ...Async forms are the
    // same work, for callers (the command line) that want to know whether it went through.
    void ModifyPlaybackState(PlaybackAction action, std::string context = {});
    void Seek(int32_t positionMs, bool relative);
    void SetRepeat(std::string mode);
    void SetShuffle(bool on);
    void SetVolume(double volume);
    void LikeTrack(std::string uri);
    void UnlikeTrack(std::string uri);
    void TransferPlayback(std::string deviceId);
    void RequestDevices();
    void RequestPlaybackState();

    platform::Task<bool> ModifyPlaybackStateAsync(PlaybackAction action, std::string context = {});
    platform::Task<bool> SeekAsync(int32_t positionMs, bool relative);
    platform::Task<bool> SetRepeatAsync(std::string mode);
    platform::Task<bool> SetShuffleAsync(bool on);
    platform::Task<bool> SetVolumeAsync(double volume);
    platform::Task<bool> LikeTrackAsync(std::string uri);
    platform::Task<bool> UnlikeTrackAsync(std::string uri);
    platform::Task<bool> TransferPlaybackAsync(std::string deviceId);
    platform::Task<bool> RequestDevicesAsync();
    platform::Task<bool> RequestPlaybackStateAsync();

    platform::Task<std::optional<std::string>> GetCurrentUsernameAsync();
    platform::Task<desktop_api_types::AuthCodeResponse> RequestAuthCodeAsync(std::string clientId,
                                                                             std::string codeChallenge,
                                                                             std::string scopes);

    WidgetMode Mode() const { return mode_; }

private:
    DesktopAPIController(std::unique_ptr<IDesktopAPIConnection> connection, WidgetMode mode,
                         std::chrono::nanoseconds retryPeriod);

    void OnNotification(IDesktopAPIConnection::Notification&& notification);
    void OnClosed();
    platform::FireAndForget RunRetryLoop();
    platform::FireAndForget RunHandshake();

    // A channel the desktop app announced (or lost) starts a new link; a failed handshake or subscription
    // step of a link reconnects once, after the retry period, unless a newer link has started by then.
    // Each link schedules its own reconnect: one still pending for an older link will come to nothing.
    uint64_t StartLink();
    uint64_t CurrentLink();
    void ScheduleReconnect(uint64_t link);
    platform::FireAndForget RunScheduledReconnect(uint64_t link);

    // What an error response means for a command.
    enum class OnError { LogErrorText, LogFailureLine, Nothing };
    platform::Task<bool> SendCommand(std::string method, IDesktopAPIConnection::Params params,
                                     OnError onError, std::string_view failureLine);

    const WidgetMode mode_;
    const std::chrono::nanoseconds retryPeriod_;
    bool stopping_ = false;
    bool retrying_ = false;
    uint64_t link_ = 0;
    std::optional<uint64_t> reconnectScheduledFor_;
    std::mutex mutex_;  // guards the four fields above
    std::condition_variable retryDone_;
    std::unique_ptr<IDesktopAPIConnection> connection_;
};

}  // namespace utils
