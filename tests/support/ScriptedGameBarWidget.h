#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/GameBar/IGameBarWidget.h"
#include "Velmora/Common/WidgetWindow.h"  // header-only: the size type, no link to the widget

namespace testsupport {

// A Game Bar widget that records what a page asks of it and answers as the test scripts it (without Qt, so
// that the bridge tests run in every build). Resizes and launches answer true at once unless
// the test queued other answers, or holds them to answer later (ReleaseResizes).
class ScriptedGameBarWidget : public platform::IGameBarWidget {
public:
    // The next resize answers, in order; once they run out a resize answers true.
    void QueueResizeResults(std::vector<bool> results);
    void FailNextLaunch(std::exception_ptr error);
    void HoldResizes(bool hold);
    void ReleaseResizes(bool result);

    std::vector<velmora::WindowSize> Resizes() const;
    std::vector<std::string> Launches() const;
    std::optional<bool> HorizontalResize() const;
    std::optional<bool> VerticalResize() const;
    size_t HeldResizes() const;

    platform::Task<bool> TryResizeWindowAsync(double width, double height) override;
    platform::Task<bool> LaunchUriAsync(std::string uri) override;
    // Changes what the host shows, raising the change on the calling thread when there is one.
    void ChangeDisplayMode(platform::GameBarDisplayMode mode);
    void ChangeOpacity(double opacity);
    size_t DisplayHandlers() const;

    platform::GameBarDisplayMode DisplayMode() const override;
    double RequestedOpacity() const override;
    void HorizontalResizeSupported(bool supported) override;
    void VerticalResizeSupported(bool supported) override;
    EventToken GameBarDisplayModeChanged(ChangedHandler handler) override;
    void GameBarDisplayModeChanged(EventToken token) override;
    EventToken RequestedOpacityChanged(ChangedHandler handler) override;
    void RequestedOpacityChanged(EventToken token) override;

private:
    mutable std::mutex mutex_;
    std::vector<velmora::WindowSize> resizes_;
    std::vector<std::string> launches_;
    std::deque<bool> resizeResults_;
    std::exception_ptr launchError_;
    bool holdResizes_ = false;
    std::vector<platform::TaskCompletionSource<bool>> heldResizes_;
    std::optional<bool> horizontalResize_;
    std::optional<bool> verticalResize_;
    platform::GameBarDisplayMode displayMode_ = platform::GameBarDisplayMode::Foreground;
    double opacity_ = 1.0;
    std::map<EventToken, ChangedHandler> displayModeHandlers_;
    std::map<EventToken, ChangedHandler> opacityHandlers_;
    EventToken nextToken_ = 1;
};

}  // namespace testsupport
