#include "VelmoraUtils/DesktopAPIController.h"

#include "Platform/Foundation/PlatformError.h"
#include "VelmoraUtils/CorvanaEndpoints.h"
#include "VelmoraUtils/Logger.h"

namespace utils {

using namespace desktop_api_types;
using platform::PlatformError;
using platform::Task;
using platform::Value;

namespace {

// Set while the retry loop drops its own strong reference: if that was the last one, the destructor runs
// right there, on the loop's own thread, and must not wait for the loop to end.
thread_local bool releasingFromRetryLoop = false;

// Logs the error text of a failed request and raises E_UNEXPECTED, which carries no text. Reading an error
// object without "code" fails first, and that failure is what propagates.
[[noreturn]] void RaiseErrorText(std::string_view method, const platform::ValueSet& data) {
    Logger::Instance().LogError(ErrorText(method, data));
    throw PlatformError(platform::E_UNEXPECTED);
}

}  // namespace

std::shared_ptr<DesktopAPIController> DesktopAPIController::Create(
    std::unique_ptr<IDesktopAPIConnection> connection, WidgetMode mode,
    std::chrono::nanoseconds retryPeriod) {
    std::shared_ptr<DesktopAPIController> controller(
        new DesktopAPIController(std::move(connection), mode, retryPeriod));
    std::weak_ptr<DesktopAPIController> weak = controller;
    controller->connection_->SetNotificationHandler(
        [weak](IDesktopAPIConnection::Notification&& notification) {
            if (auto self = weak.lock()) self->OnNotification(std::move(notification));
        });
    controller->connection_->SetClosedHandler([weak] {
        if (auto self = weak.lock()) self->OnClosed();
    });
    // Pushes refused in a burst took states with them: the last one shown must be the desktop app's last.
    controller->connection_->SetRefusedHandler([weak] {
        auto self = weak.lock();
        if (!self) return;
        Logger::Instance().LogInfo("DesktopAPIController: pushes were refused; asking for the state again");
        self->RequestPlaybackState();
        self->RequestDevices();
    });
    return controller;
}

DesktopAPIController::DesktopAPIController(std::unique_ptr<IDesktopAPIConnection> connection, WidgetMode mode,
                                           std::chrono::nanoseconds retryPeriod)
    : mode_(mode), retryPeriod_(retryPeriod), connection_(std::move(connection)) {}

DesktopAPIController::~DesktopAPIController() {
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        if (releasingFromRetryLoop) {
            retrying_ = false;
        } else {
            retryDone_.wait(lock, [&] { return !retrying_; });
        }
    }
    connection_.reset();
}

Task<void> DesktopAPIController::ConnectAsync() {
    auto self = shared_from_this();
    if (co_await connection_->Connect()) {
        Logger::Instance().LogInfo("DesktopAPIController: AppService connection succeeded");
        co_return;  // identification waits for the desktop app's "connection_state_changed"
    }
    Logger::Instance().LogError("DesktopAPIController: AppService connection failed, starting retry loop");
    RunRetryLoop();
}

platform::FireAndForget DesktopAPIController::RunRetryLoop() {
    {
        std::lock_guard lock(mutex_);
        if (retrying_ || stopping_) co_return;
        retrying_ = true;
    }
    std::weak_ptr<DesktopAPIController> weak = weak_from_this();
    // Used only to clear the flag while the destructor waits for it; the object is alive until then.
    DesktopAPIController* const owner = this;
    auto finish = [owner] {
        std::lock_guard lock(owner->mutex_);
        owner->retrying_ = false;
        owner->retryDone_.notify_all();
    };

    co_await platform::ResumeBackground();
    for (;;) {
        co_await platform::ResumeAfter(retryPeriod_);
        auto self = weak.lock();
        if (!self) {
            finish();
            co_return;
        }
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                retrying_ = false;
                retryDone_.notify_all();
                co_return;
            }
        }
        bool connected = false;
        try {
            connected = co_await connection_->Connect();
        } catch (...) {
            // Connect promises never to fail; if one does anyway, the loop must go on rather than die with
            // its flag set, which would leave the destructor waiting for ever.
        }
        if (connected) {
            finish();
            co_return;
        }
        releasingFromRetryLoop = true;
        self.reset();
        releasingFromRetryLoop = false;
        if (weak.expired()) co_return;  // that was the last reference: the destructor has run
    }
}

void DesktopAPIController::OnNotification(IDesktopAPIConnection::Notification&& notification) {
    const std::string& method = notification.method;
    const Value params(std::move(notification.params));

    if (method == "login_state_subscription") {
        auto state = ParseLoginStateResponse(params);
        LoginStateChanged.Raise(state);
        Logger::Instance().LogInfo(state.logged_in ? "DesktopAPIController: User logged in"
                                                   : "DesktopAPIController: User logged out");
        if (state.logged_in) auto subscribing = SubscribeToPlaybackAndDevice();
    } else if (method == "connection_state_changed") {
        auto state = ParseConnectionStateResponse(params);
        Logger::Instance().LogInfo(state.connected ? "DesktopAPIController: Desktop app connected"
                                                   : "DesktopAPIController: Desktop app disconnected");
        if (state.connected) {
            StartLink();
            RunHandshake();
        } else {
            Reconnect();
        }
        ConnectionStateChanged.Raise(state);
    } else if (method == "playback_state_subscription") {
        auto state = ParsePlaybackStateResponse(params);
        std::string line = std::string("DesktopAPIController: Playback state received - is_active: ") +
                           (state.is_active ? "true" : "false") +
                           ", is_paused: " + (state.is_paused ? "true" : "false");
        if (state.track) line += ", track: " + state.track->uri;
        Logger::Instance().LogInfo(line);
        PlaybackStateChanged.Raise(state);
    } else if (method == "connect_active_device_subscription") {
        ActiveDeviceChanged.Raise(ParseConnectActiveDeviceResponse(params));
        RequestDevices();
    }
}

void DesktopAPIController::OnClosed() {
    StartLink();
    ConnectionStateChanged.Raise(ConnectionStateResponse{false});
    RunRetryLoop();
}

void DesktopAPIController::Reconnect() {
    StartLink();
    connection_->Disconnect();
    ConnectionStateChanged.Raise(ConnectionStateResponse{false});
    auto connecting = ConnectAsync();
}

uint64_t DesktopAPIController::StartLink() {
    std::lock_guard lock(mutex_);
    return ++link_;
}

uint64_t DesktopAPIController::CurrentLink() {
    std::lock_guard lock(mutex_);
    return link_;
}

void DesktopAPIController::ScheduleReconnect(uint64_t link) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || link != link_ || reconnectScheduledFor_ == link) return;
        reconnectScheduledFor_ = link;
    }
    RunScheduledReconnect(link);
}

platform::FireAndForget DesktopAPIController::RunScheduledReconnect(uint64_t link) {
    std::weak_ptr<DesktopAPIController> weak = weak_from_this();
    co_await platform::ResumeAfter(retryPeriod_);
    auto self = weak.lock();
    if (!self) co_return;
    {
        std::lock_guard lock(mutex_);
        if (reconnectScheduledFor_ == link) reconnectScheduledFor_.reset();
        if (stopping_ || link != link_) co_return;
    }
    Logger::Instance().LogInfo("DesktopAPIController: Reconnecting after a failed handshake or subscription");
    Reconnect();
}

platform::FireAndForget DesktopAPIController::RunHandshake() {
    std::weak_ptr<DesktopAPIController> weak = weak_from_this();
    co_await platform::ResumeBackground();
    auto self = weak.lock();
    if (!self) co_return;
    co_await IdentifyWithClientID();
    co_await SubscribeToLoginState();
}

Task<void> DesktopAPIController::IdentifyWithClientID() {
    auto self = shared_from_this();
    const uint64_t link = CurrentLink();
    try {
        const char* feature =
            mode_ == WidgetMode::WebView ? "msft-gamebar-widget-v3-webview" : "msft-gamebar-widget-v3-native";
        // Built outside the co_await: GCC 12 miscompiles braced lists inside one.
        IDesktopAPIConnection::Params params{{"client_id", Value(std::string(CorvanaEndpoints::kClientId))},
                                             {"feature_identifier", Value(feature)}};
        auto response = co_await connection_->SendRequest("client_connection_setup", std::move(params));
        if (response.is_error) RaiseErrorText("client_connection_setup", response.data);
    } catch (...) {
        Logger::Instance().LogError("DesktopAPIController: IdentifyWithClientID failed");
        ScheduleReconnect(link);
    }
}

Task<void> DesktopAPIController::SubscribeToLoginState() {
    auto self = shared_from_this();
    const uint64_t link = CurrentLink();
    try {
        auto response = co_await connection_->SendRequest("login_state_subscription", {});
        if (response.is_error) RaiseErrorText("login_state_subscription", response.data);
    } catch (...) {
        Logger::Instance().LogError("DesktopAPIController: login_state_subscription failed");
        ScheduleReconnect(link);
    }
}

Task<void> DesktopAPIController::SubscribeToPlaybackAndDevice() {
    auto self = shared_from_this();
    const uint64_t link = CurrentLink();
    try {
        Logger::Instance().LogInfo("DesktopAPIController: Subscribing to playback state");
        auto response = co_await connection_->SendRequest("playback_state_subscription", {});
        if (response.is_error) RaiseErrorText("playback_state_subscription", response.data);
        Logger::Instance().LogInfo("DesktopAPIController: Playback state subscription succeeded");
    } catch (...) {
        Logger::Instance().LogError("DesktopAPIController: Playback state subscription failed");
        ScheduleReconnect(link);
    }
    try {
        Logger::Instance().LogInfo("DesktopAPIController: Subscribing to connect active device");
        auto response = co_await connection_->SendRequest("connect_active_device_subscription", {});
        if (response.is_error) RaiseErrorText("connect_active_device_subscription", response.data);
        Logger::Instance().LogInfo("DesktopAPIController: Connect active device subscription succeeded");
    } catch (...) {
        Logger::Instance().LogError("DesktopAPIController: Connect active device subscription failed");
        ScheduleReconnect(link);
    }
}

Task<bool> DesktopAPIController::SendCommand(std::string method, IDesktopAPIConnection::Params params,
                                             OnError onError, std::string_view failureLine) {
    auto self = shared_from_this();
    try {
        auto response = co_await connection_->SendRequest(method, std::move(params));
        if (!response.is_error) co_return true;
        if (onError == OnError::LogErrorText) RaiseErrorText(method, response.data);
        if (onError == OnError::LogFailureLine) Logger::Instance().LogError(failureLine);
        co_return false;
    } catch (...) {
    }
    Logger::Instance().LogError(failureLine);
    co_return false;
}

Task<bool> DesktopAPIController::ModifyPlaybackStateAsync(PlaybackAction action, std::string context) {
    switch (action) {
        case PlaybackAction::Play:
            return SendCommand("playback_play", {{"context", Value(std::move(context))}},
                               OnError::LogErrorText, "DesktopAPIController: ModifyPlaybackState failed");
        case PlaybackAction::Pause:
            return SendCommand("playback_pause", {}, OnError::LogErrorText,
                               "DesktopAPIController: ModifyPlaybackState failed");
        case PlaybackAction::Resume:
            return SendCommand("playback_resume", {}, OnError::LogErrorText,
                               "DesktopAPIController: ModifyPlaybackState failed");
        case PlaybackAction::Previous:
            return SendCommand("playback_previous", {}, OnError::LogErrorText,
                               "DesktopAPIController: ModifyPlaybackState failed");
        case PlaybackAction::Next:
            return SendCommand("playback_next", {}, OnError::LogErrorText,
                               "DesktopAPIController: ModifyPlaybackState failed");
    }
    // An action outside the enumeration, as a cast from a number could make.
    Logger::Instance().LogError("DesktopAPIController: ModifyPlaybackState failed");
    platform::TaskCompletionSource<bool> failed;
    failed.TrySetResult(false);
    return failed.GetTask();
}

Task<bool> DesktopAPIController::SeekAsync(int32_t positionMs, bool relative) {
    return SendCommand("playback_seek",
                       {{"position_ms", Value(positionMs)}, {"is_relative", Value(relative)}},
                       OnError::LogFailureLine, "DesktopAPIController: Seek failed");
}

Task<bool> DesktopAPIController::SetRepeatAsync(std::string mode) {
    return SendCommand("playback_repeat", {{"repeat", Value(std::move(mode))}}, OnError::LogFailureLine,
                       "DesktopAPIController: SetRepeat failed");
}

Task<bool> DesktopAPIController::SetShuffleAsync(bool on) {
    return SendCommand("playback_shuffle", {{"shuffle", Value(on)}}, OnError::LogFailureLine,
                       "DesktopAPIController: SetShuffle failed");
}

Task<bool> DesktopAPIController::SetVolumeAsync(double volume) {
    return SendCommand("playback_volume", {{"volume_percentage", Value(volume)}}, OnError::LogFailureLine,
                       "DesktopAPIController: SetVolume failed");
}

Task<bool> DesktopAPIController::LikeTrackAsync(std::string uri) {
    return SendCommand("library_add", {{"uris", Value(std::vector<std::string>{std::move(uri)})}},
                       OnError::LogFailureLine, "DesktopAPIController: LikeTrack failed");
}

Task<bool> DesktopAPIController::UnlikeTrackAsync(std::string uri) {
    return SendCommand("library_remove", {{"uris", Value(std::vector<std::string>{std::move(uri)})}},
                       OnError::LogFailureLine, "DesktopAPIController: UnlikeTrack failed");
}

Task<bool> DesktopAPIController::TransferPlaybackAsync(std::string deviceId) {
    return SendCommand("connect_transfer", {{"device_id", Value(std::move(deviceId))}},
                       OnError::LogFailureLine, "DesktopAPIController: TransferPlayback failed");
}

Task<bool> DesktopAPIController::RequestDevicesAsync() {
    auto self = shared_from_this();
    try {
        auto response = co_await connection_->SendRequest("connect_cluster", {});
        if (response.is_error) co_return false;
        DevicesChanged.Raise(ParseConnectClusterResponse(Value(std::move(response.data))));
        co_return true;
    } catch (...) {
    }
    Logger::Instance().LogError("DesktopAPIController: RequestDevices failed");
    co_return false;
}

Task<bool> DesktopAPIController::RequestPlaybackStateAsync() {
    auto self = shared_from_this();
    try {
        auto response = co_await connection_->SendRequest("playback_state_request", {});
        if (response.is_error) co_return false;
        PlaybackStateChanged.Raise(ParsePlaybackStateResponse(Value(std::move(response.data))));
        co_return true;
    } catch (...) {
    }
    Logger::Instance().LogError("DesktopAPIController: playback_state_request failed");
    co_return false;
}

void DesktopAPIController::ModifyPlaybackState(PlaybackAction action, std::string context) {
    auto running = ModifyPlaybackStateAsync(action, std::move(context));
}
void DesktopAPIController::Seek(int32_t positionMs, bool relative) {
    auto running = SeekAsync(positionMs, relative);
}
void DesktopAPIController::SetRepeat(std::string mode) {
    auto running = SetRepeatAsync(std::move(mode));
}
void DesktopAPIController::SetShuffle(bool on) {
    auto running = SetShuffleAsync(on);
}
void DesktopAPIController::SetVolume(double volume) {
    auto running = SetVolumeAsync(volume);
}
void DesktopAPIController::LikeTrack(std::string uri) {
    auto running = LikeTrackAsync(std::move(uri));
}
void DesktopAPIController::UnlikeTrack(std::string uri) {
    auto running = UnlikeTrackAsync(std::move(uri));
}
void DesktopAPIController::TransferPlayback(std::string deviceId) {
    auto running = TransferPlaybackAsync(std::move(deviceId));
}
void DesktopAPIController::RequestDevices() {
    auto running = RequestDevicesAsync();
}
void DesktopAPIController::RequestPlaybackState() {
    auto running = RequestPlaybackStateAsync();
}

Task<std::optional<std::string>> DesktopAPIController::GetCurrentUsernameAsync() {
    auto self = shared_from_this();
    try {
        auto response = co_await connection_->SendRequest("me", {});
        if (response.is_error) co_return std::nullopt;
        co_return response.data.Lookup("username").AsString();
    } catch (...) {
    }
    Logger::Instance().LogError("DesktopAPIController: GetCurrentUsernameAsync failed");
    co_return std::nullopt;
}

Task<AuthCodeResponse> DesktopAPIController::RequestAuthCodeAsync(std::string clientId,
                                                                  std::string codeChallenge,
                                                                  std::string scopes) {
    auto self = shared_from_this();
    IDesktopAPIConnection::Params params{{"channel_id", Value("1")},
                                         {"client_id", Value(std::move(clientId))},
                                         {"grant_type", Value("auth_code")},
                                         {"client_code_challenge", Value(std::move(codeChallenge))},
                                         {"client_scopes", Value(std::move(scopes))},
                                         {"redirect_uri", Value(std::string(CorvanaEndpoints::kRedirectUri))},
                                         {"prompt_type", Value("none")}};
    auto response = co_await connection_->SendRequest("auth_request", std::move(params));
    if (response.is_error) RaiseErrorText("auth_request", response.data);
    co_return ParseAuthCodeResponse(Value(std::move(response.data)));
}

}  // namespace utils
