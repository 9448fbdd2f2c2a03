#pragma once

#include <QPointer>
#include <atomic>
#include <memory>

#include "Platform/Foundation/EventSource.h"
#include "Platform/GameBar/IGameBarWidget.h"

namespace platform {

class CoreDispatcher;
class Frame;
class GameBarChrome;
class GameBarHostControls;
class GameBarWidgetActivatedEventArgs;
class Window;

// The overlay window of one widget, as the pages see it. Made on the UI thread for a launch activation
// from its arguments, the activation's window and the frame that is the window's content: it dresses the
// window as the Game Bar shows a widget (frameless, always on top, translucent with rounded corners, the
// host's chrome around the frame) and follows the host's controls. The operations may be called from any
// thread; they do their work on the UI thread. Once the window has gone, resizing and launching report
// false.
class GameBarWidget final : public IGameBarWidget {
public:
    GameBarWidget(const GameBarWidgetActivatedEventArgs& args, Window& window,
                  const std::shared_ptr<Frame>& frame);
    ~GameBarWidget() override;

    // The size a window gets before its page asks for one.
    static constexpr int kDefaultWidth = 320;
    static constexpr int kDefaultHeight = 194;
    // Requests beyond this many logical pixels a side are refused.
    static constexpr double kMaximumSide = 8192;

    Task<bool> TryResizeWindowAsync(double width, double height) override;
    // VELMORA_URI_LAUNCHER, when set, names a program that receives the URI as its one argument instead of
    // the desktop's URI handler; it took the URI when it exits with status 0 (or still runs after 10 s).
    Task<bool> LaunchUriAsync(std::string uri) override;

    GameBarDisplayMode DisplayMode() const override;
    double RequestedOpacity() const override;

    void HorizontalResizeSupported(bool supported) override;
    void VerticalResizeSupported(bool supported) override;
    bool HorizontalResizeSupported() const { return horizontalResize_; }
    bool VerticalResizeSupported() const { return verticalResize_; }

    EventToken GameBarDisplayModeChanged(ChangedHandler handler) override;
    void GameBarDisplayModeChanged(EventToken token) override;
    EventToken RequestedOpacityChanged(ChangedHandler handler) override;
    void RequestedOpacityChanged(EventToken token) override;

    struct State;

private:
    void ApplyResizeSupport();

    std::shared_ptr<CoreDispatcher> dispatcher_;
    std::shared_ptr<GameBarHostControls> controls_;
    std::shared_ptr<State> state_;
    EventSource<>::Token displayModeToken_ = 0;
    EventSource<>::Token opacityToken_ = 0;
    std::atomic<bool> horizontalResize_ = false;
    std::atomic<bool> verticalResize_ = false;
};

}  // namespace platform
