#include "Platform/GameBar/GameBarChrome.h"

#include <QGuiApplication>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/GameBar/GameBarHostControls.h"
#include "Platform/GameBar/PointerMover.h"
#include "Platform/Ui/Window.h"
#include "Theme/ThemeModule.h"

namespace platform {

GameBarChrome::GameBarChrome(std::shared_ptr<GameBarHostControls> controls, std::weak_ptr<Window> window)
    : controls_(std::move(controls)), window_(std::move(window)) {
    // The controls outlive no chrome that listens to them: the tokens go in the destructor, on this
    // (the UI) thread, where the changes are raised too.
    QPointer<GameBarChrome> self(this);
    displayModeToken_ = controls_->DisplayModeChanged([self] {
        if (self) emit self->changed();
    });
    opacityToken_ = controls_->RequestedOpacityChanged([self] {
        if (self) emit self->changed();
    });
    shortcutToken_ = controls_->ToggleShortcutChanged([self] {
        if (self) emit self->changed();
    });
}

GameBarChrome::~GameBarChrome() {
    controls_->DisplayModeChanged(displayModeToken_);
    controls_->RequestedOpacityChanged(opacityToken_);
    controls_->ToggleShortcutChanged(shortcutToken_);
}

GameBarChrome* GameBarChrome::Install(Window& window, std::shared_ptr<GameBarHostControls> controls) {
    auto* chrome = new GameBarChrome(std::move(controls), window.weak_from_this());
    theme::Install(window.Engine());
    QQmlComponent component(&window.Engine(),
                            QUrl(QStringLiteral("qrc:/platform/gamebar/GameBarChrome.qml")));
    QObject* made = component.isReady() ? component.createWithInitialProperties(
                                              {{"host", QVariant::fromValue(static_cast<QObject*>(chrome))}})
                                        : nullptr;
    auto* item = qobject_cast<QQuickItem*>(made);
    if (!item) {
        delete made;
        delete chrome;
        throw PlatformError(E_FAIL,
                            "the Game Bar chrome did not load: " + component.errorString().toStdString());
    }
    chrome->setParent(item);
    chrome->mover_ = new PointerMover(&window.CoreWindow());
    auto* slot = item->findChild<QQuickItem*>(QStringLiteral("contentSlot"));
    QPointer<QQuickItem> chromeItem(item);
    QPointer<GameBarChrome> self(chrome);
    Window::DecorationRequests requests;
    requests.openMenu = [chromeItem](QPointF scenePosition) {
        // The chrome fills the window: scene and chrome positions are the same.
        if (chromeItem)
            QMetaObject::invokeMethod(chromeItem, "openMenu", Q_ARG(QVariant, scenePosition.x()),
                                      Q_ARG(QVariant, scenePosition.y()), Q_ARG(QVariant, false));
    };
    requests.startMove = [self] {
        if (self) self->StartMove();
    };
    window.Decorate(item, slot ? slot : item, std::move(requests));
    return chrome;
}

QQuickItem* GameBarChrome::Item() const {
    return qobject_cast<QQuickItem*>(parent());
}

bool GameBarChrome::PinnedOnly() const {
    return controls_->DisplayMode() == GameBarDisplayMode::PinnedOnly;
}

double GameBarChrome::RequestedOpacity() const {
    return controls_->RequestedOpacity();
}

QString GameBarChrome::ToggleShortcut() const {
    return QString::fromStdString(controls_->ToggleShortcut());
}

double GameBarChrome::MinimumOpacity() const {
    return GameBarHostControls::kMinimumOpacity;
}

void GameBarChrome::SetResizeSupported(bool horizontal, bool vertical) {
    if (horizontal == horizontalResize_ && vertical == verticalResize_) return;
    horizontalResize_ = horizontal;
    verticalResize_ = vertical;
    emit changed();
}

void GameBarChrome::StartMove() {
    auto window = window_.lock();
    // A press that has ended meanwhile moves nothing.
    if (!window || !(QGuiApplication::mouseButtons() & Qt::LeftButton)) return;
    if (window->CoreWindow().startSystemMove()) return;
    if (mover_) mover_->Start();
}

void GameBarChrome::setPinnedOnly(bool pinnedOnly) {
    controls_->DisplayMode(pinnedOnly ? GameBarDisplayMode::PinnedOnly : GameBarDisplayMode::Foreground);
}

void GameBarChrome::setRequestedOpacity(double opacity) {
    controls_->RequestedOpacity(opacity);
}

void GameBarChrome::hide() {
    if (auto window = window_.lock()) window->Hide();
}

void GameBarChrome::close() {
    if (auto window = window_.lock()) window->Close();
}

}  // namespace platform
