#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Platform/Foundation/Task.h"

namespace platform {

enum class GameBarDisplayMode : int32_t {
    Foreground = 0,  // the overlay is open
    PinnedOnly = 1,  // the overlay is closed; only pinned widgets show
};

// What a page sees of the overlay window that hosts it: six operations and two change events. The window
// (GameBarWidget) implements it on the UI thread; tests give pages a double. Window units are logical
// pixels. The change events are raised on the UI thread; a handler may remove itself while it runs.
class IGameBarWidget {
public:
    using ChangedHandler = std::function<void()>;
    using EventToken = uint64_t;  // 0 is never handed out

    virtual ~IGameBarWidget() = default;

    // True when the window took exactly that size.
    virtual Task<bool> TryResizeWindowAsync(double width, double height) = 0;
    // True when a URI handler took the URI.
    virtual Task<bool> LaunchUriAsync(std::string uri) = 0;

    virtual GameBarDisplayMode DisplayMode() const = 0;
    virtual double RequestedOpacity() const = 0;  // 0.1 to 1

    // Whether the player may resize the window by its edges.
    virtual void HorizontalResizeSupported(bool supported) = 0;
    virtual void VerticalResizeSupported(bool supported) = 0;

    virtual EventToken GameBarDisplayModeChanged(ChangedHandler handler) = 0;
    virtual void GameBarDisplayModeChanged(EventToken token) = 0;
    virtual EventToken RequestedOpacityChanged(ChangedHandler handler) = 0;
    virtual void RequestedOpacityChanged(EventToken token) = 0;
};

}  // namespace platform
