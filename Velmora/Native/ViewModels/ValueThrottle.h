#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace velmora {

// Values that change faster than the desktop app should hear about them (a dragged progress bar or volume
// slider): the first goes out at once, then at most one per interval, and the value the player settles on
// always goes out, so the app ends where the player let go. The clock and the one-shot wake-up are given,
// so that the rule runs the same under a test's clock. Nothing is armed while no value waits.
class ValueThrottle {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Asks for Wake() after the delay; a later call replaces an earlier one, and nullopt cancels it.
    using Arm = std::function<void(std::optional<std::chrono::milliseconds>)>;

    ValueThrottle(std::chrono::milliseconds interval, std::function<void(double)> send, Clock now, Arm arm);

    // A new value while it changes.
    void Update(double value);
    // The value it ended at: sent now unless it is the last one sent.
    void Finish(double value);
    // The armed delay has passed: the waiting value goes out.
    void Wake();

private:
    void SendNow(double value);

    const std::chrono::milliseconds interval_;
    const std::function<void(double)> send_;
    const Clock now_;
    const Arm arm_;
    std::optional<std::chrono::steady_clock::time_point> lastSentAt_;
    std::optional<double> lastSent_;
    std::optional<double> waiting_;
    bool armed_ = false;
};

}  // namespace velmora
