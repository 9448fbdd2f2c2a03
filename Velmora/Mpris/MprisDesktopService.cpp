#include "Velmora/Mpris/MprisDesktopService.h"

#include <algorithm>
#include <cmath>

#include "Velmora/Mpris/MprisRecords.h"
#include "VelmoraUtils/Logger.h"

namespace velmora::mpris {

using platform::MprisCommand;
using platform::Value;
using platform::ValueSet;
using Kind = platform::MprisCommand::Kind;

namespace {

constexpr int64_t kPositionToleranceMs = 250;

utils::Logger& Log() {
    return utils::Logger::Instance();
}

ValueSet Result(ValueSet data = {}) {
    return ValueSet{{"result", Value(std::move(data))}};
}

ValueSet Error(int32_t code, const std::string& message) {
    return ValueSet{{"error", Value(ValueSet{{"code", Value(code)}, {"message", Value(message)}})}};
}

template <typename T>
std::optional<T> Param(const ValueSet& params, std::string_view key);

template <>
std::optional<std::string> Param(const ValueSet& params, std::string_view key) {
    if (!params.HasKey(key) || params.Lookup(key).Kind() != platform::ValueKind::String) return std::nullopt;
    return params.Lookup(key).AsString();
}
template <>
std::optional<bool> Param(const ValueSet& params, std::string_view key) {
    if (!params.HasKey(key) || params.Lookup(key).Kind() != platform::ValueKind::Boolean) return std::nullopt;
    return params.Lookup(key).AsBoolean();
}
template <>
std::optional<int32_t> Param(const ValueSet& params, std::string_view key) {
    if (!params.HasKey(key) || params.Lookup(key).Kind() != platform::ValueKind::Int32) return std::nullopt;
    return params.Lookup(key).AsInt32();
}
template <>
std::optional<double> Param(const ValueSet& params, std::string_view key) {
    if (!params.HasKey(key) || params.Lookup(key).Kind() != platform::ValueKind::Double) return std::nullopt;
    return params.Lookup(key).AsDouble();
}

int64_t EpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The state less what changes by itself with time.
ValueSet Timeless(ValueSet state) {
    state.Remove("timestamp");
    state.Remove("position_as_of_timestamp");
    return state;
}

}  // namespace

std::shared_ptr<MprisDesktopService> MprisDesktopService::Create(
    std::shared_ptr<platform::CoreDispatcher> dispatcher, std::function<void()> busLost) {
    std::shared_ptr<MprisDesktopService> service(new MprisDesktopService(std::move(dispatcher)));
    service->Wire(std::move(busLost));
    return service;
}

MprisDesktopService::MprisDesktopService(std::shared_ptr<platform::CoreDispatcher> dispatcher)
    : dispatcher_(std::move(dispatcher)) {}

void MprisDesktopService::Wire(std::function<void()> busLost) {
    std::weak_ptr<MprisDesktopService> weak = weak_from_this();
    // Each handler runs on the dispatcher, and only while both ends exist; the service owns both.
    auto with = [weak](auto member) {
        return [weak, member](auto&&... args) {
            if (auto self = weak.lock()) ((*self).*member)(std::forward<decltype(args)>(args)...);
        };
    };
    platform::MprisClient::Handlers players;
    players.appeared = with(&MprisDesktopService::OnAppeared);
    players.changed = with(&MprisDesktopService::OnChanged);
    players.seeked = with(&MprisDesktopService::OnSeeked);
    players.vanished = with(&MprisDesktopService::OnVanished);
    players.failed = [](const std::string& busName, const std::string& problem) {
        Log().LogError("MprisDesktopService: the player " + busName + " is left out: " + problem);
    };
    players_ = std::make_unique<platform::MprisClient>(dispatcher_, std::move(players));

    platform::AppServiceHost::Handlers channel;
    channel.opened = [weak](uint64_t id, const std::string& client) {
        auto self = weak.lock();
        if (!self) return;
        self->channels_[id] = Channel{client};
        // As the desktop app does: the widget identifies itself once told the channel is up.
        self->Push(id, "connection_state_changed", ValueSet{{"connected", Value("true")}});
    };
    channel.closed = [weak](uint64_t id) {
        if (auto self = weak.lock()) self->channels_.erase(id);
    };
    channel.request = [weak](const std::string& client, ValueSet message) -> platform::Task<ValueSet> {
        auto self = weak.lock();
        if (!self)
            return []() -> platform::Task<ValueSet> { co_return Error(503, "velmora-mpris is closing"); }();
        return self->Handle(client, std::move(message));
    };
    channel.ownershipChanged = [](bool owned) {
        Log().LogInfo(owned ? std::string("MprisDesktopService: serving ") + kServiceName
                            : std::string("MprisDesktopService: ") + kServiceName +
                                  " went to another owner; waiting until it is free again");
    };
    channel.busLost = [busLost = std::move(busLost)] {
        Log().LogError("MprisDesktopService: the session bus has gone");
        if (busLost) busLost();
    };
    host_ = std::make_unique<platform::AppServiceHost>(kServiceName, dispatcher_, std::move(channel));
    throttle_ = PushThrottle::Create(dispatcher_, kPushInterval, [weak] {
        if (auto self = weak.lock()) self->FlushPlayback();
    });
}

platform::Task<bool> MprisDesktopService::StartAsync() {
    auto self = shared_from_this();
    if (!co_await players_->StartAsync()) {
        Log().LogError("MprisDesktopService: no session bus");
        co_return false;
    }
    Log().LogInfo("MprisDesktopService: " + std::to_string(known_.size()) + " player(s) found");
    auto state = co_await host_->StartAsync();
    if (state == platform::AppServiceNameState::Failed) {
        Log().LogError(std::string("MprisDesktopService: the bus refused the name ") + kServiceName);
        co_return false;
    }
    if (state == platform::AppServiceNameState::Queued) {
        Log().LogInfo(std::string("MprisDesktopService: ") + kServiceName +
                      " has an owner; waiting until it is free");
    }
    co_return true;
}

// ---- the players

void MprisDesktopService::OnAppeared(const std::string& busName,
                                     const platform::MprisProperties& properties) {
    const std::string id = MprisPlayer::DeviceIdFor(busName);
    if (id.empty()) {
        Log().LogError("MprisDesktopService: the player " + busName +
                       " is left out: its name is no device id");
        return;
    }
    // A name that comes back before its departure was seen is a new player.
    if (Find(busName)) OnVanished(busName);
    const auto before = follower_.Followed();
    const bool first = known_.empty();
    known_.push_back(std::make_unique<MprisPlayer>(busName, id, properties, MprisPlayer::Clock::now()));
    follower_.Appeared(id, known_.back()->IsPlaying());
    Log().LogInfo("MprisDesktopService: the player " + busName + " (" + known_.back()->Name() + ") appeared");
    if (first) PushLogin();
    AfterFollowing(before);
    PushActiveDevice();  // the device list changed; the widget asks for it on this notification
}

void MprisDesktopService::OnChanged(const std::string& busName, const platform::MprisProperties& change) {
    MprisPlayer* player = Find(busName);
    if (!player) return;
    const auto before = follower_.Followed();
    auto effect = player->Apply(change, MprisPlayer::Clock::now());
    if (change.playbackStatus) follower_.PlayingChanged(player->DeviceId(), player->IsPlaying());
    if (follower_.Followed() != before) return AfterFollowing(before);
    if (player == Followed()) PlaybackChanged(effect.positionStale);
}

void MprisDesktopService::OnSeeked(const std::string& busName, int64_t positionUs) {
    MprisPlayer* player = Find(busName);
    if (!player) return;
    player->Seeked(positionUs, MprisPlayer::Clock::now());
    if (player == Followed()) PlaybackChanged(false);
}

void MprisDesktopService::OnVanished(const std::string& busName) {
    auto it =
        std::find_if(known_.begin(), known_.end(), [&](const auto& p) { return p->BusName() == busName; });
    if (it == known_.end()) return;
    const auto before = follower_.Followed();
    follower_.Vanished((*it)->DeviceId());
    known_.erase(it);
    Log().LogInfo("MprisDesktopService: the player " + busName + " left");
    if (known_.empty()) {
        PushLogin();
        PlaybackChanged(false);
        return;
    }
    AfterFollowing(before);
    PushActiveDevice();
}

MprisPlayer* MprisDesktopService::Find(const std::string& busName) {
    for (auto& player : known_) {
        if (player->BusName() == busName) return player.get();
    }
    return nullptr;
}

MprisPlayer* MprisDesktopService::FindDevice(const std::string& deviceId) {
    for (auto& player : known_) {
        if (player->DeviceId() == deviceId) return player.get();
    }
    return nullptr;
}

MprisPlayer* MprisDesktopService::Followed() {
    const auto& followed = follower_.Followed();
    return followed ? FindDevice(*followed) : nullptr;
}

void MprisDesktopService::AfterFollowing(const std::optional<std::string>& before) {
    if (follower_.Followed() == before) return;
    if (MprisPlayer* player = Followed())
        Log().LogInfo("MprisDesktopService: following " + player->BusName());
    // One state for the player now followed, once its position is known: never an empty one in between.
    PlaybackChanged(true);
    PushActiveDevice();
}

void MprisDesktopService::PlaybackChanged(bool positionStale) {
    positionStale_ = positionStale_ || positionStale;
    throttle_->Request();
}

// ---- the channel

platform::Task<ValueSet> MprisDesktopService::Handle(std::string client, ValueSet message) {
    auto self = shared_from_this();  // a command waits for its player; the service stays for the answer
    auto method = Param<std::string>(message, "method");
    if (!method) co_return Error(400, "a message needs a method");
    ValueSet params;
    if (message.HasKey("params") && message.Lookup("params").Kind() == platform::ValueKind::ValueSet) {
        params = message.Lookup("params").AsValueSet();
    }
    const std::string& m = *method;

    if (m == "client_connection_setup") co_return Result();
    if (m == "login_state_subscription" || m == "playback_state_subscription" ||
        m == "connect_active_device_subscription") {
        // The current state follows the reply, as the desktop app sends it.
        std::weak_ptr<MprisDesktopService> weak = self;
        dispatcher_->RunAsync([weak, client, m] {
            if (auto self = weak.lock()) self->Subscribe(client, m);
        });
        co_return Result();
    }
    if (m == "playback_state_request") co_return Result(CurrentPlaybackState());
    if (m == "connect_cluster") {
        std::vector<const MprisPlayer*> players;
        for (const auto& player : known_) players.push_back(player.get());
        co_return Result(MprisRecords::Cluster(players, follower_.Followed()));
    }
    if (m == "me" || m == "auth_request") {
        co_return Error(401, "no Corvana account: velmora-mpris plays the session's media players");
    }
    if (m == "library_add" || m == "library_remove") {
        co_return Error(403, "a media player has no Corvana library");
    }
    if (m == "connect_transfer") {
        auto device = Param<std::string>(params, "device_id");
        if (!device) co_return Error(400, "device_id (text) is required");
        if (!FindDevice(*device)) co_return Error(404, "no player " + *device);
        const auto before = follower_.Followed();
        follower_.Chosen(*device);
        AfterFollowing(before);
        co_return Result();
    }

    MprisPlayer* player = Followed();
    if (!player && m.rfind("playback_", 0) == 0) co_return Error(404, "no player");
    const platform::MprisProperties none;
    const platform::MprisProperties& p = player ? player->Properties() : none;
    const bool control = p.canControl.value_or(false);
    auto refuse = [&](const std::string& what) {
        return Error(403, player->Name() + " does not allow " + what);
    };

    if (m == "playback_pause") {
        if (!control || !p.canPause.value_or(false)) co_return refuse("pausing");
        co_return co_await Command(MprisCommand::Of(Kind::Pause), m);
    }
    if (m == "playback_resume") {
        if (!control || !p.canPlay.value_or(false)) co_return refuse("playing");
        co_return co_await Command(MprisCommand::Of(Kind::Play), m);
    }
    if (m == "playback_next") {
        if (!control || !p.canGoNext.value_or(false)) co_return refuse("skipping to the next track");
        co_return co_await Command(MprisCommand::Of(Kind::Next), m);
    }
    if (m == "playback_previous") {
        if (!control || !p.canGoPrevious.value_or(false)) co_return refuse("going back");
        co_return co_await Command(MprisCommand::Of(Kind::Previous), m);
    }
    if (m == "playback_seek") {
        auto position = Param<int32_t>(params, "position_ms");
        auto relative = Param<bool>(params, "is_relative");
        if (!position || !relative)
            co_return Error(400, "position_ms (int32) and is_relative (boolean) are required");
        if (!control || !p.canSeek.value_or(false)) co_return refuse("seeking");
        MprisCommand command = MprisCommand::Of(*relative ? Kind::Seek : Kind::SetPosition);
        command.microseconds = int64_t{*position} * 1000;
        if (!*relative) {
            if (*position < 0) co_return Error(400, "an absolute position cannot be negative");
            if (!p.metadata || !p.metadata->trackId)
                co_return Error(409, player->Name() + " names no track to seek in");
            command.text = *p.metadata->trackId;
        }
        co_return co_await Command(command, m);
    }
    if (m == "playback_repeat") {
        auto mode = Param<std::string>(params, "repeat");
        const std::map<std::string, std::string> statuses{
            {"off", "None"}, {"context", "Playlist"}, {"track", "Track"}};
        if (!mode || !statuses.count(*mode)) co_return Error(400, "repeat is one of off, context and track");
        if (!control || !p.loopStatus) co_return refuse("repeating");
        MprisCommand command = MprisCommand::Of(Kind::SetLoopStatus);
        command.text = statuses.at(*mode);
        co_return co_await Command(command, m);
    }
    if (m == "playback_shuffle") {
        auto on = Param<bool>(params, "shuffle");
        if (!on) co_return Error(400, "shuffle (boolean) is required");
        if (!control || !p.shuffle) co_return refuse("shuffling");
        MprisCommand command = MprisCommand::Of(Kind::SetShuffle);
        command.flag = *on;
        co_return co_await Command(command, m);
    }
    if (m == "playback_volume") {
        auto volume = Param<double>(params, "volume_percentage");
        if (!volume || !std::isfinite(*volume) || *volume < 0 || *volume > 1)
            co_return Error(400, "volume_percentage is a fraction from 0 to 1");
        if (!control || !p.volume) co_return refuse("setting the volume");
        MprisCommand command = MprisCommand::Of(Kind::SetVolume);
        command.number = *volume;
        co_return co_await Command(command, m);
    }
    if (m == "playback_play") {
        auto context = Param<std::string>(params, "context");
        if (!context) co_return Error(400, "a context is required");
        const std::string scheme = context->substr(0, context->find(':'));
        const auto& schemes = p.supportedUriSchemes;
        if (context->find(':') == std::string::npos || !schemes ||
            std::find(schemes->begin(), schemes->end(), scheme) == schemes->end()) {
            co_return Error(400,
                            player->Name() + " cannot open '" + MprisPlayer::Cut(scheme, 32) + ":' URIs");
        }
        MprisCommand command = MprisCommand::Of(Kind::OpenUri);
        command.text = *context;
        co_return co_await Command(command, m);
    }
    co_return Error(404, "unknown method " + MprisPlayer::Cut(m, 64));
}

platform::Task<ValueSet> MprisDesktopService::Command(MprisCommand command, std::string action) {
    MprisPlayer* player = Followed();
    if (!player) co_return Error(404, "no player");
    const std::string busName = player->BusName();
    std::optional<std::string> refusal;
    try {
        refusal = co_await players_->CallAsync(busName, std::move(command));
    } catch (...) {
        refusal = "the player left before it answered";
    }
    if (!refusal) co_return Result();
    Log().LogError("MprisDesktopService: " + action + " on " + busName + " failed: " + *refusal);
    co_return Error(502, busName + " did not do it: " + *refusal);
}

void MprisDesktopService::Subscribe(const std::string& client, const std::string& method) {
    // A subscription holds for every channel the client connection opened, as messages name no channel.
    for (auto& [id, channel] : channels_) {
        if (channel.client != client) continue;
        if (method == "login_state_subscription") {
            channel.login = true;
            Push(id, method, MprisRecords::LoginState(!known_.empty()));
        } else if (method == "playback_state_subscription") {
            channel.playback = true;
            Push(id, method, CurrentPlaybackState());
            // The newcomer has the state as it is now, which the others may not have yet (their push can be
            // waiting for a position reading or the throttle): the next push must reach everyone even when
            // it equals the last one pushed, or the newcomer keeps a state that has gone.
            lastPushed_.reset();
        } else {
            channel.device = true;
            Push(id, method, MprisRecords::ActiveDevice(follower_.Followed()));
        }
    }
}

// ---- pushing

void MprisDesktopService::FlushPlayback() {
    MprisPlayer* player = Followed();
    if (positionReading_) return;  // the reading's end pushes
    if (player && positionStale_) {
        positionStale_ = false;
        positionReading_ = true;
        ReadPositionThenPush(weak_from_this(), player->BusName());
        return;
    }
    PushPlayback();
}

platform::FireAndForget MprisDesktopService::ReadPositionThenPush(std::weak_ptr<MprisDesktopService> weak,
                                                                  std::string busName) {
    std::optional<int64_t> position;
    std::shared_ptr<MprisDesktopService> self;
    if (auto service = weak.lock()) {
        auto reading = service->players_->GetPositionAsync(busName);
        service.reset();
        try {
            position = co_await std::move(reading);
        } catch (...) {
        }
    }
    self = weak.lock();
    if (!self) co_return;
    self->positionReading_ = false;
    if (MprisPlayer* player = self->Find(busName); player && position) {
        player->SamplePosition(*position, MprisPlayer::Clock::now());
    }
    // Another change may have asked for a fresh reading meanwhile: the throttle brings it round again.
    self->PushPlayback();
    if (self->positionStale_) self->throttle_->Request();
}

ValueSet MprisDesktopService::CurrentPlaybackState() {
    return MprisRecords::PlaybackState(Followed(), MprisPlayer::Clock::now(), EpochMs());
}

void MprisDesktopService::PushPlayback() {
    const auto now = MprisPlayer::Clock::now();
    ValueSet state = MprisRecords::PlaybackState(Followed(), now, EpochMs());
    ValueSet timeless = Timeless(state);
    const int64_t positionMs =
        state.HasKey("position_as_of_timestamp") ? state.Lookup("position_as_of_timestamp").AsInt32() : 0;
    if (lastPushed_ && *lastPushed_ == timeless) {
        // The same state: pushed again only when its position is not where the last push had it go.
        int64_t expected = lastPushedPositionMs_;
        if (!timeless.Lookup("is_paused").AsBoolean()) {
            double speed =
                timeless.HasKey("playback_speed") ? timeless.Lookup("playback_speed").AsDouble() : 1.0;
            expected += static_cast<int64_t>(
                std::chrono::duration<double, std::milli>(now - lastPushedAt_).count() * speed);
        }
        if (std::llabs(expected - positionMs) < kPositionToleranceMs) return;
    }
    lastPushed_ = std::move(timeless);
    lastPushedPositionMs_ = positionMs;
    lastPushedAt_ = now;
    for (const auto& [id, channel] : channels_) {
        if (channel.playback) Push(id, "playback_state_subscription", state);
    }
}

void MprisDesktopService::PushLogin() {
    for (const auto& [id, channel] : channels_) {
        if (channel.login) Push(id, "login_state_subscription", MprisRecords::LoginState(!known_.empty()));
    }
}

void MprisDesktopService::PushActiveDevice() {
    for (const auto& [id, channel] : channels_) {
        if (channel.device) {
            Push(id, "connect_active_device_subscription", MprisRecords::ActiveDevice(follower_.Followed()));
        }
    }
}

void MprisDesktopService::Push(uint64_t channel, const std::string& method, ValueSet params) {
    // Not awaited, and a push nobody takes is not logged: it is nearly always a client that has just left
    // the bus (velmora-ctl exits without closing its channel), and a widget that refuses one logs it itself.
    [](platform::Task<bool> push) -> platform::FireAndForget {
        try {
            co_await std::move(push);
        } catch (...) {
        }
    }(host_->PushAsync(channel, ValueSet{{"method", Value(method)}, {"params", Value(std::move(params))}}));
}

}  // namespace velmora::mpris
