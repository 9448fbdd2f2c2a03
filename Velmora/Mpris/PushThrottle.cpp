#include "Velmora/Mpris/PushThrottle.h"

#include "Platform/Threading/ThreadPoolTimer.h"

namespace velmora::mpris {

std::shared_ptr<PushThrottle> PushThrottle::Create(std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                   std::chrono::milliseconds interval,
                                                   std::function<void()> flush) {
    return std::shared_ptr<PushThrottle>(new PushThrottle(std::move(dispatcher), interval, std::move(flush)));
}

PushThrottle::PushThrottle(std::shared_ptr<platform::CoreDispatcher> dispatcher,
                           std::chrono::milliseconds interval, std::function<void()> flush)
    : dispatcher_(std::move(dispatcher)), interval_(interval), flush_(std::move(flush)) {}

void PushThrottle::Request() {
    if (armed_) return;
    const auto due = lastFlush_ + interval_;
    const auto now = std::chrono::steady_clock::now();
    if (now >= due) return Flush();
    armed_ = true;
    std::weak_ptr<PushThrottle> weak = weak_from_this();
    platform::ThreadPoolTimer::CreateTimer(
        [weak, dispatcher = dispatcher_] {
            dispatcher->RunAsync([weak] {
                if (auto self = weak.lock()) {
                    self->armed_ = false;
                    self->Flush();
                }
            });
        },
        due - now);
}

void PushThrottle::Flush() {
    lastFlush_ = std::chrono::steady_clock::now();
    flush_();
}

}  // namespace velmora::mpris
