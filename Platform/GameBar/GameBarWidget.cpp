#include "Platform/GameBar/GameBarWidget.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickWindow>
#include <QSurfaceFormat>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <cstdlib>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/GameBar/GameBarChrome.h"
#include "Platform/GameBar/GameBarHostControls.h"
#include "Platform/GameBar/GameBarWidgetActivatedEventArgs.h"
#include "Platform/GameBar/WindowPlacement.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "Platform/Ui/Frame.h"
#include "Platform/Ui/Window.h"

namespace platform {

// What the UI-thread work of the widget shares with it; handlers and queued work hold it, never the
// widget, which may go on any thread.
struct GameBarWidget::State {
    std::weak_ptr<Window> window;
    QPointer<GameBarChrome> chrome;  // UI thread only
    EventSource<> displayModeChanged;
    EventSource<> requestedOpacityChanged;
};

namespace {

bool IsValidSide(double side) {
    return std::isfinite(side) && side >= 1 && side <= GameBarWidget::kMaximumSide;
}

// Runs the URI launcher and reports whether it took the URI. The process object outlives the widget if
// need be and deletes itself when done.
Task<bool> RunLauncher(const QString& program, const QString& uri) {
    TaskCompletionSource<bool> done;
    auto* process = new QProcess();
    auto* patience = new QTimer(process);
    patience->setSingleShot(true);
    QObject::connect(process, &QProcess::finished, process,
                     [process, done](int code, QProcess::ExitStatus status) {
                         done.TrySetResult(status == QProcess::NormalExit && code == 0);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, done](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         done.TrySetResult(false);
                         process->deleteLater();
                     });
    // A launcher that keeps running (it became the handler itself) has taken the URI.
    QObject::connect(patience, &QTimer::timeout, process, [done] { done.TrySetResult(true); });
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, {uri});
    patience->start(10000);
    return done.GetTask();
}

}  // namespace

GameBarWidget::GameBarWidget(const GameBarWidgetActivatedEventArgs& args, Window& window,
                             const std::shared_ptr<Frame>& frame)
    : dispatcher_(CoreDispatcher::ForCurrentThread()),
      controls_(args.Host()),
      state_(std::make_shared<State>()) {
    if (!dispatcher_ || !dispatcher_->HasThreadAccess()) {
        throw PlatformError(E_UNEXPECTED, "the Game Bar widget is made on the UI thread");
    }
    state_->window = window.weak_from_this();

    QQuickWindow& core = window.CoreWindow();
    core.setFlags(core.flags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    QSurfaceFormat format = core.format();
    format.setAlphaBufferSize(8);
    core.setFormat(format);
    core.setColor(Qt::transparent);
    core.setTitle(QStringLiteral("Velmora"));
    if (core.width() <= 1 || core.height() <= 1) core.resize(kDefaultWidth, kDefaultHeight);
    // Where the player left it (per screen), or the top right of the primary screen at a first start. A
    // window without a window system (offscreen: tests, benchmarks) has no place on a desktop to keep.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) WindowPlacement::Attach(core);

    if (frame && window.Content() != frame) window.Content(frame);
    state_->chrome = GameBarChrome::Install(window, controls_);

    std::weak_ptr<State> weak = state_;
    displayModeToken_ = controls_->DisplayModeChanged([weak] {
        if (auto state = weak.lock()) state->displayModeChanged.Raise();
    });
    opacityToken_ = controls_->RequestedOpacityChanged([weak] {
        if (auto state = weak.lock()) state->requestedOpacityChanged.Raise();
    });
}

GameBarWidget::~GameBarWidget() {
    controls_->DisplayModeChanged(displayModeToken_);
    controls_->RequestedOpacityChanged(opacityToken_);
}

Task<bool> GameBarWidget::TryResizeWindowAsync(double width, double height) {
    auto dispatcher = dispatcher_;
    auto state = state_;
    if (!dispatcher->HasThreadAccess()) co_await ResumeForeground(dispatcher);
    auto window = state->window.lock();
    if (!window || !IsValidSide(width) || !IsValidSide(height)) co_return false;
    QSize wanted(static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height)));
    QQuickWindow& core = window->CoreWindow();
    core.resize(wanted);
    co_return core.size() == wanted;
}

Task<bool> GameBarWidget::LaunchUriAsync(std::string uri) {
    auto dispatcher = dispatcher_;
    if (!dispatcher->HasThreadAccess()) co_await ResumeForeground(dispatcher);
    QUrl url(QString::fromStdString(uri), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) co_return false;
    const char* launcher = std::getenv("VELMORA_URI_LAUNCHER");
    if (launcher && *launcher) {
        co_return co_await RunLauncher(QString::fromLocal8Bit(launcher), url.toString(QUrl::FullyEncoded));
    }
    co_return QDesktopServices::openUrl(url);
}

GameBarDisplayMode GameBarWidget::DisplayMode() const {
    return controls_->DisplayMode();
}

double GameBarWidget::RequestedOpacity() const {
    return controls_->RequestedOpacity();
}

void GameBarWidget::HorizontalResizeSupported(bool supported) {
    horizontalResize_ = supported;
    ApplyResizeSupport();
}

void GameBarWidget::VerticalResizeSupported(bool supported) {
    verticalResize_ = supported;
    ApplyResizeSupport();
}

void GameBarWidget::ApplyResizeSupport() {
    auto apply = [state = state_, horizontal = horizontalResize_.load(), vertical = verticalResize_.load()] {
        if (state->chrome) state->chrome->SetResizeSupported(horizontal, vertical);
    };
    if (dispatcher_->HasThreadAccess()) {
        apply();
    } else {
        dispatcher_->RunAsync(apply);
    }
}

IGameBarWidget::EventToken GameBarWidget::GameBarDisplayModeChanged(ChangedHandler handler) {
    return state_->displayModeChanged.Add(std::move(handler));
}

void GameBarWidget::GameBarDisplayModeChanged(EventToken token) {
    state_->displayModeChanged.Remove(token);
}

IGameBarWidget::EventToken GameBarWidget::RequestedOpacityChanged(ChangedHandler handler) {
    return state_->requestedOpacityChanged.Add(std::move(handler));
}

void GameBarWidget::RequestedOpacityChanged(EventToken token) {
    state_->requestedOpacityChanged.Remove(token);
}

}  // namespace platform
