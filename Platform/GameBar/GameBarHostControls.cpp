#include "Platform/GameBar/GameBarHostControls.h"

#include <cmath>

namespace platform {

GameBarDisplayMode GameBarHostControls::DisplayMode() const {
    std::lock_guard lock(mutex_);
    return displayMode_;
}

void GameBarHostControls::DisplayMode(GameBarDisplayMode mode) {
    {
        std::lock_guard lock(mutex_);
        if (displayMode_ == mode) return;
        displayMode_ = mode;
    }
    displayModeChanged_.Raise();
}

double GameBarHostControls::RequestedOpacity() const {
    std::lock_guard lock(mutex_);
    return requestedOpacity_;
}

bool GameBarHostControls::IsValidOpacity(double opacity) {
    return std::isfinite(opacity) && opacity >= kMinimumOpacity && opacity <= kMaximumOpacity;
}

bool GameBarHostControls::RequestedOpacity(double opacity) {
    if (!IsValidOpacity(opacity)) return false;
    {
        std::lock_guard lock(mutex_);
        if (requestedOpacity_ == opacity) return true;
        requestedOpacity_ = opacity;
    }
    requestedOpacityChanged_.Raise();
    return true;
}

std::string GameBarHostControls::ToggleShortcut() const {
    std::lock_guard lock(mutex_);
    return toggleShortcut_;
}

void GameBarHostControls::ToggleShortcut(std::string shortcut) {
    {
        std::lock_guard lock(mutex_);
        if (toggleShortcut_ == shortcut) return;
        toggleShortcut_ = std::move(shortcut);
    }
    toggleShortcutChanged_.Raise();
}

EventSource<>::Token GameBarHostControls::DisplayModeChanged(std::function<void()> handler) {
    return displayModeChanged_.Add(std::move(handler));
}

void GameBarHostControls::DisplayModeChanged(EventSource<>::Token token) {
    displayModeChanged_.Remove(token);
}

EventSource<>::Token GameBarHostControls::RequestedOpacityChanged(std::function<void()> handler) {
    return requestedOpacityChanged_.Add(std::move(handler));
}

void GameBarHostControls::RequestedOpacityChanged(EventSource<>::Token token) {
    requestedOpacityChanged_.Remove(token);
}

EventSource<>::Token GameBarHostControls::ToggleShortcutChanged(std::function<void()> handler) {
    return toggleShortcutChanged_.Add(std::move(handler));
}

void GameBarHostControls::ToggleShortcutChanged(EventSource<>::Token token) {
    toggleShortcutChanged_.Remove(token);
}

}  // namespace platform
