#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tools/corvana-sim/Catalog.h"

namespace corvanasim {

struct Device {
    std::string id;
    std::string name;
    std::string type;
    int32_t volume = 50;
    bool isSelf = false;
    bool disableVolume = false;
};

struct Restrictions {
    bool pausing = false, resuming = false, seeking = false, skippingPrev = false, skippingNext = false,
         togglingRepeatContext = false, togglingRepeatTrack = false, togglingShuffle = false;
};

// What the player looks like at one moment.
struct PlaybackView {
    const CatalogItem* item = nullptr;
    std::optional<std::string> context;
    int64_t timestampMs = 0;
    int32_t positionMs = 0;
    bool isPaused = true;
    bool shuffle = false;
    std::string repeat = "off";
    double volume = 0.5;
    bool inCollection = false;
    Restrictions restrictions;
};

// A small but honest player: a queue, a position that moves with the clock while playing, shuffle,
// repeat, volume, a library and devices. Commands return an error text, or nothing when they worked.
class Player {
public:
    using Clock = std::function<int64_t()>;  // milliseconds since the epoch

    Player(std::vector<CatalogItem> queue, Clock now);

    PlaybackView View() const;
    const std::vector<Device>& Devices() const { return devices_; }
    void AddDevice(Device device) { devices_.push_back(std::move(device)); }
    const std::string& ActiveDeviceId() const { return activeDevice_; }
    bool ActiveDeviceIsLocal() const;

    std::optional<std::string> Play(const std::string& contextUri);
    std::optional<std::string> Pause();
    std::optional<std::string> Resume();
    std::optional<std::string> Next();
    std::optional<std::string> Previous();
    std::optional<std::string> Seek(int32_t positionMs, bool relative);
    std::optional<std::string> SetShuffle(bool on);
    std::optional<std::string> SetRepeat(const std::string& mode);
    std::optional<std::string> SetVolume(double volume);
    std::optional<std::string> LibraryAdd(const std::string& uri);
    std::optional<std::string> LibraryRemove(const std::string& uri);
    std::optional<std::string> Transfer(const std::string& deviceId);

    // Moves on when the item playing has ended; true when the state changed.
    bool Tick();

private:
    int32_t PositionNow() const;
    void Restart(size_t index, bool playing);
    void Advance(bool naturalEnd);
    Restrictions RestrictionsNow() const;

    std::vector<CatalogItem> queue_;
    Clock now_;
    size_t index_ = 0;
    std::optional<std::string> context_;
    bool paused_ = true;
    int32_t positionAtTimestamp_ = 0;
    int64_t timestamp_ = 0;
    bool shuffle_ = false;
    std::string repeat_ = "off";
    double volume_ = 0.5;
    std::set<std::string> library_;
    std::vector<Device> devices_;
    std::string activeDevice_;
    std::mt19937 random_{20261208};
};

}  // namespace corvanasim
