#include "Platform/Ui/Window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <cstdio>
#include <exception>
#include <vector>

#include "Platform/Ui/FillParent.h"
#include "Platform/Ui/Frame.h"

namespace platform {

namespace {

// Reports a close once Qt has handled it (the window is hidden by then).
class CoreQuickWindow final : public QQuickWindow {
public:
    explicit CoreQuickWindow(std::function<void()> onClosed) : onClosed_(std::move(onClosed)) {}

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::Close) return QQuickWindow::event(event);
        bool handled = QQuickWindow::event(event);
        if (event->isAccepted()) onClosed_();
        return handled;
    }

private:
    std::function<void()> onClosed_;
};

struct Windows {
    std::shared_ptr<Window> current;
    std::vector<std::shared_ptr<Window>> closed;
    std::function<void(bool)> afterClosed;
    // While a window's close is being handled, that window is on the stack of its own event handler and
    // must not be destroyed.
    int closing = 0;
};

// Never destroyed: a window left over at exit must not be torn down among the statics, after the
// application object it needs has gone.
Windows& TheWindows() {
    static Windows& windows = *new Windows;
    return windows;
}

}  // namespace

std::shared_ptr<Window> Window::Current() {
    ReleaseClosed();
    auto& windows = TheWindows();
    if (!windows.current) windows.current.reset(new Window());
    return windows.current;
}

std::shared_ptr<Window> Window::Shown() {
    auto& current = TheWindows().current;
    return current && current->IsShown() ? current : nullptr;
}

std::shared_ptr<Window> Window::Open() {
    auto& current = TheWindows().current;
    return current && current->IsOpen() ? current : nullptr;
}

void Window::ReleaseClosed() {
    if (TheWindows().closing > 0) return;
    std::vector<std::shared_ptr<Window>> closed;
    closed.swap(TheWindows().closed);
}

void Window::ReleaseAll() {
    ReleaseClosed();
    std::shared_ptr<Window> current = std::move(TheWindows().current);
}

void Window::AfterClosed(std::function<void(bool handlerFailed)> callback) {
    TheWindows().afterClosed = std::move(callback);
}

Window::Window() : engine_(std::make_unique<QQmlEngine>()) {
    quickWindow_ = std::make_unique<CoreQuickWindow>([this] { OnClosed(); });
    engine_->setIncubationController(quickWindow_->incubationController());
}

Window::~Window() {
    // Pages and the decoration are engine-made items: they go first, the window next, the engine last.
    content_.reset();
    delete decoration_.data();
    quickWindow_.reset();
    engine_.reset();
}

void Window::Content(std::shared_ptr<Frame> frame) {
    if (content_ && content_ != frame) FillParent(content_->Item(), nullptr);
    content_ = std::move(frame);
    if (content_) content_->AttachEngine(engine_.get());
    PlaceContent();
}

std::shared_ptr<Window> Window::Of(const QQuickWindow* coreWindow) {
    if (!coreWindow) return nullptr;
    auto& windows = TheWindows();
    if (windows.current && windows.current->quickWindow_.get() == coreWindow) return windows.current;
    for (const auto& closed : windows.closed) {
        if (closed->quickWindow_.get() == coreWindow) return closed;
    }
    return nullptr;
}

void Window::Decorate(QQuickItem* decoration, QQuickItem* contentSlot, DecorationRequests requests) {
    if (decoration_ && decoration_ != decoration) {
        if (content_) FillParent(content_->Item(), nullptr);
        delete decoration_.data();
    }
    decoration_ = decoration;
    contentSlot_ = decoration ? contentSlot : nullptr;
    decorationRequests_ = decoration ? std::move(requests) : DecorationRequests{};
    if (decoration_) FillParent(decoration_, quickWindow_->contentItem());
    PlaceContent();
}

void Window::OpenDecorationMenu(QPointF scenePosition) {
    if (decoration_ && decorationRequests_.openMenu) decorationRequests_.openMenu(scenePosition);
}

void Window::StartDecorationMove() {
    if (decoration_ && decorationRequests_.startMove) decorationRequests_.startMove();
}

void Window::PlaceContent() {
    if (!content_) return;
    FillParent(content_->Item(), contentSlot_ ? contentSlot_.data() : quickWindow_->contentItem());
}

Window::Token Window::Closed(ClosedHandler handler) {
    return closed_.Add(std::move(handler));
}

void Window::Closed(Token token) {
    closed_.Remove(token);
}

void Window::Activate() {
    isClosed_ = false;
    activated_ = true;
    if (hidden_) return;
    Show();
}

void Window::Show() {
    if (isClosed_ || !activated_) return;
    hidden_ = false;
    quickWindow_->show();
    // Windows without a window system (offscreen: tests, benchmarks) have no stacking order to change.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) quickWindow_->raise();
    quickWindow_->requestActivate();
}

bool Window::IsShown() const {
    return !isClosed_ && !hidden_ && quickWindow_->isVisible();
}

bool Window::IsOpen() const {
    return !isClosed_ && activated_ && (hidden_ || quickWindow_->isVisible());
}

void Window::Hide() {
    if (isClosed_) return;
    hidden_ = true;
    if (activated_) quickWindow_->hide();
}

void Window::Close() {
    const bool wasHidden = IsHidden() && activated_;
    quickWindow_->close();
    // A window that was never shown has no window-system window, and Qt then delivers no close event.
    if (wasHidden && !isClosed_) OnClosed();
}

void Window::OnClosed() {
    if (isClosed_) return;
    isClosed_ = true;
    auto self = shared_from_this();
    auto& windows = TheWindows();
    struct ClosingScope {
        int& depth;
        explicit ClosingScope(int& d) : depth(d) { ++depth; }
        ~ClosingScope() { --depth; }
    } scope(windows.closing);
    bool handlerFailed = false;
    try {
        closed_.Raise();
    } catch (const std::exception& e) {
        handlerFailed = true;
        std::fprintf(stderr, "platform: a window-closed handler failed: %s\n", e.what());
    } catch (...) {
        handlerFailed = true;
        std::fprintf(stderr, "platform: a window-closed handler failed\n");
    }
    if (windows.current == self) windows.closed.push_back(std::move(windows.current));
    if (windows.afterClosed) windows.afterClosed(handlerFailed);
}

}  // namespace platform
