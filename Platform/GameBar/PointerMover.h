#pragma once

#include <QObject>
#include <QPoint>
#include <QPointF>

class QWindow;

namespace platform {

// Moves a window with the pointer while its left button is down, for a desktop whose window manager does
// not move it (or that has none). It sees every press of the window, so that a move asked for a moment
// after the press (a web page's message) starts from where the press was. A child of the window, on
// the UI thread.
class PointerMover final : public QObject {
public:
    explicit PointerMover(QWindow* window);

    // Follows the pointer from the press that is still down, if one is; until its release.
    void Start();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWindow* window_;
    bool pressed_ = false;
    bool moving_ = false;
    QPointF pressGlobal_;
    QPoint pressWindow_;
};

}  // namespace platform
