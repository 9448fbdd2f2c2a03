#pragma once

#include <QObject>
#include <memory>

#include "Platform/Foundation/EventSource.h"

class QQuickItem;

namespace platform {

class GameBarHostControls;
class PointerMover;
class Window;

// The host's chrome around a widget: the window's rounded background, moving the window by its empty
// areas, edge resizing where the widget allows it, and the context menu with the host's controls (pinned
// only, opacity, close). This object is what the markup (GameBarChrome.qml) binds to; it lives as a child
// of the chrome's item, which the window owns. UI thread only.
class GameBarChrome final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool pinnedOnly READ PinnedOnly NOTIFY changed)
    Q_PROPERTY(double requestedOpacity READ RequestedOpacity NOTIFY changed)
    Q_PROPERTY(double minimumOpacity READ MinimumOpacity CONSTANT)
    Q_PROPERTY(QString toggleShortcut READ ToggleShortcut NOTIFY changed)
    Q_PROPERTY(bool horizontalResizeSupported READ HorizontalResizeSupported NOTIFY changed)
    Q_PROPERTY(bool verticalResizeSupported READ VerticalResizeSupported NOTIFY changed)

public:
    // Creates the chrome and puts it on the window, around the window's content.
    static GameBarChrome* Install(Window& window, std::shared_ptr<GameBarHostControls> controls);
    ~GameBarChrome() override;

    QQuickItem* Item() const;

    bool PinnedOnly() const;
    double RequestedOpacity() const;
    double MinimumOpacity() const;
    QString ToggleShortcut() const;
    bool HorizontalResizeSupported() const { return horizontalResize_; }
    bool VerticalResizeSupported() const { return verticalResize_; }
    void SetResizeSupported(bool horizontal, bool vertical);

    // Moves the window with the pointer whose button is down now: the window manager's move where there
    // is one, else the window follows the pointer until the button is released. For content that keeps
    // the pointer to itself (a web page asks for it a moment after the press).
    void StartMove();

    // The context menu's actions.
    Q_INVOKABLE void setPinnedOnly(bool pinnedOnly);
    Q_INVOKABLE void setRequestedOpacity(double opacity);
    Q_INVOKABLE void close();
    // Hides the window without closing it (the page lives on); velmora --toggle or the shortcut brings
    // it back.
    Q_INVOKABLE void hide();

signals:
    void changed();

private:
    GameBarChrome(std::shared_ptr<GameBarHostControls> controls, std::weak_ptr<Window> window);

    std::shared_ptr<GameBarHostControls> controls_;
    std::weak_ptr<Window> window_;
    EventSource<>::Token displayModeToken_ = 0;
    EventSource<>::Token opacityToken_ = 0;
    EventSource<>::Token shortcutToken_ = 0;
    PointerMover* mover_ = nullptr;  // the window owns it
    bool horizontalResize_ = false;
    bool verticalResize_ = false;
};

}  // namespace platform
