#include "Velmora/Native/ViewModels/ValueThrottle.h"

#include <utility>

namespace velmora {

ValueThrottle::ValueThrottle(std::chrono::milliseconds interval, std::function<void(double)> send, Clock now,
                             Arm arm)
    : interval_(interval), send_(std::move(send)), now_(std::move(now)), arm_(std::move(arm)) {}

void ValueThrottle::SendNow(double value) {
    waiting_.reset();
    lastSentAt_ = now_();
    lastSent_ = value;
    send_(value);
}

void ValueThrottle::Update(double value) {
    const auto now = now_();
    if (!armed_ && (!lastSentAt_ || now - *lastSentAt_ >= interval_)) {
        SendNow(value);
        return;
    }
    waiting_ = value;
    if (!armed_) {
        armed_ = true;
        arm_(std::chrono::ceil<std::chrono::milliseconds>(*lastSentAt_ + interval_ - now));
    }
}

void ValueThrottle::Wake() {
    armed_ = false;
    if (waiting_) SendNow(*waiting_);
}

void ValueThrottle::Finish(double value) {
    if (armed_) {
        armed_ = false;
        arm_(std::nullopt);
    }
    waiting_.reset();
    if (value != lastSent_) send_(value);
    lastSent_.reset();
    lastSentAt_.reset();
}

}  // namespace velmora
