#include "Platform/GameBar/PointerMover.h"

#include <QMouseEvent>
#include <QWindow>

namespace platform {

PointerMover::PointerMover(QWindow* window) : QObject(window), window_(window) {
    window->installEventFilter(this);
}

void PointerMover::Start() {
    if (pressed_) moving_ = true;
}

bool PointerMover::eventFilter(QObject*, QEvent* event) {
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        pressed_ = true;
        moving_ = false;
        pressGlobal_ = mouse->globalPosition();
        pressWindow_ = window_->position();
    } else if (type == QEvent::MouseMove && moving_) {
        window_->setPosition(pressWindow_ + (mouse->globalPosition() - pressGlobal_).toPoint());
        return true;  // the content under the pointer sees no drag
    } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
        pressed_ = moving_ = false;
    }
    return false;
}

}  // namespace platform
