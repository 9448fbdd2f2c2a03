#include "tests/support/ScriptedGameBarWidget.h"

namespace testsupport {

void ScriptedGameBarWidget::QueueResizeResults(std::vector<bool> results) {
    std::lock_guard lock(mutex_);
    resizeResults_.insert(resizeResults_.end(), results.begin(), results.end());
}

void ScriptedGameBarWidget::FailNextLaunch(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    launchError_ = std::move(error);
}

void ScriptedGameBarWidget::HoldResizes(bool hold) {
    std::lock_guard lock(mutex_);
    holdResizes_ = hold;
}

void ScriptedGameBarWidget::ReleaseResizes(bool result) {
    std::vector<platform::TaskCompletionSource<bool>> held;
    {
        std::lock_guard lock(mutex_);
        held.swap(heldResizes_);
    }
    for (auto& source : held) source.TrySetResult(result);
}

std::vector<velmora::WindowSize> ScriptedGameBarWidget::Resizes() const {
    std::lock_guard lock(mutex_);
    return resizes_;
}

std::vector<std::string> ScriptedGameBarWidget::Launches() const {
    std::lock_guard lock(mutex_);
    return launches_;
}

std::optional<bool> ScriptedGameBarWidget::HorizontalResize() const {
    std::lock_guard lock(mutex_);
    return horizontalResize_;
}

std::optional<bool> ScriptedGameBarWidget::VerticalResize() const {
    std::lock_guard lock(mutex_);
    return verticalResize_;
}

size_t ScriptedGameBarWidget::HeldResizes() const {
    std::lock_guard lock(mutex_);
    return heldResizes_.size();
}

platform::Task<bool> ScriptedGameBarWidget::TryResizeWindowAsync(double width, double height) {
    platform::TaskCompletionSource<bool> source;
    bool result = true;
    {
        std::lock_guard lock(mutex_);
        resizes_.push_back({width, height});
        if (holdResizes_) {
            heldResizes_.push_back(source);
            return source.GetTask();
        }
        if (!resizeResults_.empty()) {
            result = resizeResults_.front();
            resizeResults_.pop_front();
        }
    }
    source.TrySetResult(result);
    return source.GetTask();
}

platform::Task<bool> ScriptedGameBarWidget::LaunchUriAsync(std::string uri) {
    platform::TaskCompletionSource<bool> source;
    std::exception_ptr error;
    {
        std::lock_guard lock(mutex_);
        launches_.push_back(std::move(uri));
        error.swap(launchError_);
    }
    if (error) {
        source.TrySetException(error);
    } else {
        source.TrySetResult(true);
    }
    return source.GetTask();
}

void ScriptedGameBarWidget::HorizontalResizeSupported(bool supported) {
    std::lock_guard lock(mutex_);
    horizontalResize_ = supported;
}

void ScriptedGameBarWidget::VerticalResizeSupported(bool supported) {
    std::lock_guard lock(mutex_);
    verticalResize_ = supported;
}

namespace {

// Runs a copy of the handlers without the lock, so that one may remove itself.
void Raise(
    std::map<platform::IGameBarWidget::EventToken, platform::IGameBarWidget::ChangedHandler> handlers) {
    for (auto& [token, handler] : handlers) handler();
}

}  // namespace

void ScriptedGameBarWidget::ChangeDisplayMode(platform::GameBarDisplayMode mode) {
    std::map<EventToken, ChangedHandler> handlers;
    {
        std::lock_guard lock(mutex_);
        displayMode_ = mode;
        handlers = displayModeHandlers_;
    }
    Raise(std::move(handlers));
}

void ScriptedGameBarWidget::ChangeOpacity(double opacity) {
    std::map<EventToken, ChangedHandler> handlers;
    {
        std::lock_guard lock(mutex_);
        opacity_ = opacity;
        handlers = opacityHandlers_;
    }
    Raise(std::move(handlers));
}

size_t ScriptedGameBarWidget::DisplayHandlers() const {
    std::lock_guard lock(mutex_);
    return displayModeHandlers_.size() + opacityHandlers_.size();
}

platform::GameBarDisplayMode ScriptedGameBarWidget::DisplayMode() const {
    std::lock_guard lock(mutex_);
    return displayMode_;
}

double ScriptedGameBarWidget::RequestedOpacity() const {
    std::lock_guard lock(mutex_);
    return opacity_;
}

platform::IGameBarWidget::EventToken ScriptedGameBarWidget::GameBarDisplayModeChanged(
    ChangedHandler handler) {
    std::lock_guard lock(mutex_);
    displayModeHandlers_[nextToken_] = std::move(handler);
    return nextToken_++;
}

void ScriptedGameBarWidget::GameBarDisplayModeChanged(EventToken token) {
    std::lock_guard lock(mutex_);
    displayModeHandlers_.erase(token);
}

platform::IGameBarWidget::EventToken ScriptedGameBarWidget::RequestedOpacityChanged(ChangedHandler handler) {
    std::lock_guard lock(mutex_);
    opacityHandlers_[nextToken_] = std::move(handler);
    return nextToken_++;
}

void ScriptedGameBarWidget::RequestedOpacityChanged(EventToken token) {
    std::lock_guard lock(mutex_);
    opacityHandlers_.erase(token);
}

}  // namespace testsupport
