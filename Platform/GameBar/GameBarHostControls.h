#pragma once

#include <mutex>
#include <string>

#include "Platform/Foundation/EventSource.h"
#include "Platform/GameBar/IGameBarWidget.h"

namespace platform {

// What the player sets in the Game Bar for the widgets it hosts: whether only pinned widgets show (the
// overlay is closed) and the opacity requested for them. The host changes them (its context menu, its
// actions on the bus, the launch options) on the UI thread; the widget objects follow them. Reads are
// safe from any thread; the change events run on the thread that made the change, only on a real change.
class GameBarHostControls {
public:
    static constexpr double kMinimumOpacity = 0.1;
    static constexpr double kMaximumOpacity = 1.0;

    GameBarDisplayMode DisplayMode() const;
    void DisplayMode(GameBarDisplayMode mode);

    double RequestedOpacity() const;
    // False, and nothing changes, for a value that is not a number within 0.1 to 1.
    bool RequestedOpacity(double opacity);
    static bool IsValidOpacity(double opacity);

    // The global shortcut that toggles the widget window, as the player wrote it ("Super+Alt+M"), or empty
    // when none is bound; the host's menu shows it.
    std::string ToggleShortcut() const;
    void ToggleShortcut(std::string shortcut);

    EventSource<>::Token DisplayModeChanged(std::function<void()> handler);
    void DisplayModeChanged(EventSource<>::Token token);
    EventSource<>::Token RequestedOpacityChanged(std::function<void()> handler);
    void RequestedOpacityChanged(EventSource<>::Token token);
    EventSource<>::Token ToggleShortcutChanged(std::function<void()> handler);
    void ToggleShortcutChanged(EventSource<>::Token token);

private:
    mutable std::mutex mutex_;
    GameBarDisplayMode displayMode_ = GameBarDisplayMode::Foreground;
    double requestedOpacity_ = kMaximumOpacity;
    std::string toggleShortcut_;
    EventSource<> displayModeChanged_;
    EventSource<> requestedOpacityChanged_;
    EventSource<> toggleShortcutChanged_;
};

}  // namespace platform
