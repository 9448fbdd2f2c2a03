#include "tools/corvana-sim/Player.h"

#include <algorithm>
#include <cmath>

namespace corvanasim {

Player::Player(std::vector<CatalogItem> queue, Clock now) : queue_(std::move(queue)), now_(std::move(now)) {
    devices_ = {{"sim-desktop", "Corvana Desktop", "computer", 50, true, false},
                {"sim-phone", "Pocket Phone", "smartphone", 70, false, false},
                {"sim-speaker", "Living Room Speaker", "speaker", 35, false, true}};
    activeDevice_ = devices_[0].id;
    context_ = "corvana:playlist:4Gk2PqL8battle";
    Restart(0, true);  // the desktop app is already playing when the widget first looks
    library_.insert(queue_.at(1).uri);
}

int32_t Player::PositionNow() const {
    const auto& item = queue_[index_];
    int64_t position = positionAtTimestamp_ + (paused_ ? 0 : now_() - timestamp_);
    return static_cast<int32_t>(std::clamp<int64_t>(position, 0, item.durationMs));
}

void Player::Restart(size_t index, bool playing) {
    index_ = index;
    paused_ = !playing;
    positionAtTimestamp_ = 0;
    timestamp_ = now_();
}

Restrictions Player::RestrictionsNow() const {
    const auto& item = queue_[index_];
    Restrictions r;
    r.pausing = paused_;
    r.resuming = !paused_;
    if (item.isAdvertisement()) {
        r.seeking = r.skippingNext = r.skippingPrev = true;
        r.togglingShuffle = r.togglingRepeatContext = r.togglingRepeatTrack = true;
    }
    if (item.isEpisode()) r.togglingShuffle = true;
    return r;
}

PlaybackView Player::View() const {
    PlaybackView view;
    view.item = &queue_[index_];
    view.context = context_;
    view.timestampMs = now_();
    view.positionMs = PositionNow();
    view.isPaused = paused_;
    view.shuffle = shuffle_;
    view.repeat = repeat_;
    view.volume = volume_;
    view.inCollection = library_.count(queue_[index_].uri) > 0;
    view.restrictions = RestrictionsNow();
    return view;
}

bool Player::ActiveDeviceIsLocal() const {
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [&](const Device& d) { return d.id == activeDevice_; });
    return it != devices_.end() && it->isSelf;
}

std::optional<std::string> Player::Play(const std::string& contextUri) {
    if (contextUri.rfind("corvana:", 0) != 0) return "Invalid context uri";
    auto it =
        std::find_if(queue_.begin(), queue_.end(), [&](const CatalogItem& i) { return i.uri == contextUri; });
    context_ = contextUri;
    Restart(it == queue_.end() ? 0 : static_cast<size_t>(it - queue_.begin()), true);
    return std::nullopt;
}

std::optional<std::string> Player::Pause() {
    if (RestrictionsNow().pausing) return "Restriction violated: already paused";
    positionAtTimestamp_ = PositionNow();
    timestamp_ = now_();
    paused_ = true;
    return std::nullopt;
}

std::optional<std::string> Player::Resume() {
    if (RestrictionsNow().resuming) return "Restriction violated: already playing";
    timestamp_ = now_();
    paused_ = false;
    return std::nullopt;
}

void Player::Advance(bool naturalEnd) {
    if (naturalEnd && repeat_ == "track") {
        Restart(index_, true);
        return;
    }
    size_t next = index_ + 1;
    if (shuffle_ && queue_.size() > 1) {
        std::uniform_int_distribution<size_t> pick(0, queue_.size() - 2);
        next = pick(random_);
        if (next >= index_) ++next;
    }
    if (next >= queue_.size()) {
        // The end of the queue: around again with repeat, otherwise stop at the top.
        Restart(0, repeat_ == "context" && (naturalEnd || !paused_));
        return;
    }
    Restart(next, !paused_ || naturalEnd);
}

std::optional<std::string> Player::Next() {
    if (RestrictionsNow().skippingNext) return "Restriction violated: cannot skip this item";
    Advance(false);
    return std::nullopt;
}

std::optional<std::string> Player::Previous() {
    if (RestrictionsNow().skippingPrev) return "Restriction violated: cannot skip this item";
    bool playing = !paused_;
    if (PositionNow() > 3000 || index_ == 0) {
        Restart(index_, playing);
    } else {
        Restart(index_ - 1, playing);
    }
    return std::nullopt;
}

std::optional<std::string> Player::Seek(int32_t positionMs, bool relative) {
    if (RestrictionsNow().seeking) return "Restriction violated: cannot seek in this item";
    int64_t target = relative ? int64_t{PositionNow()} + positionMs : positionMs;
    if (target < 0) target = 0;
    if (target >= queue_[index_].durationMs) {
        Advance(true);  // past the end: as if the item had ended
        return std::nullopt;
    }
    positionAtTimestamp_ = static_cast<int32_t>(target);
    timestamp_ = now_();
    return std::nullopt;
}

std::optional<std::string> Player::SetShuffle(bool on) {
    if (RestrictionsNow().togglingShuffle) return "Restriction violated: shuffle is not available here";
    shuffle_ = on;
    return std::nullopt;
}

std::optional<std::string> Player::SetRepeat(const std::string& mode) {
    if (mode != "off" && mode != "context" && mode != "track") return "Invalid repeat mode";
    auto r = RestrictionsNow();
    if ((mode == "context" && r.togglingRepeatContext) || (mode == "track" && r.togglingRepeatTrack)) {
        return "Restriction violated: repeat is not available here";
    }
    repeat_ = mode;
    return std::nullopt;
}

std::optional<std::string> Player::SetVolume(double volume) {
    if (!std::isfinite(volume) || volume < 0 || volume > 1) return "Volume must be between 0 and 1";
    volume_ = volume;
    for (auto& device : devices_) {
        if (device.id == activeDevice_) device.volume = static_cast<int32_t>(std::lround(volume * 100));
    }
    return std::nullopt;
}

std::optional<std::string> Player::LibraryAdd(const std::string& uri) {
    if (uri.rfind("corvana:", 0) != 0) return "Invalid uri";
    library_.insert(uri);
    return std::nullopt;
}

std::optional<std::string> Player::LibraryRemove(const std::string& uri) {
    if (uri.rfind("corvana:", 0) != 0) return "Invalid uri";
    library_.erase(uri);
    return std::nullopt;
}

std::optional<std::string> Player::Transfer(const std::string& deviceId) {
    auto it =
        std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.id == deviceId; });
    if (it == devices_.end()) return "Device not found";
    positionAtTimestamp_ = PositionNow();
    timestamp_ = now_();
    activeDevice_ = deviceId;
    return std::nullopt;
}

bool Player::Tick() {
    if (paused_ || PositionNow() < queue_[index_].durationMs) return false;
    Advance(true);
    return true;
}

}  // namespace corvanasim
