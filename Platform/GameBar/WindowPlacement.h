#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/ValueSet.h"

class QWindow;

namespace platform {

// Where the widget window goes: back where the player left it, per screen, kept on a screen that still
// exists. The settings file keeps, under "WidgetPlacement", the screen the window was last on and, for
// every screen it has been on, its position there (relative to that screen's top left corner, so that a
// screen that moved in the desktop's layout keeps its place). A first start puts it at the top right of
// the primary screen, kMargin from the edges. UI thread only.
class WindowPlacement final : public QObject {
public:
    static constexpr const char* kSettingsKey = "WidgetPlacement";
    static constexpr int kMargin = 24;

    struct Screen {
        std::string name;
        QRect area;  // the available geometry, in the desktop's logical pixels
    };
    struct Saved {
        std::string screen;                       // the screen the window was last on
        std::map<std::string, QPoint> positions;  // each screen's position, relative to its top left

        static Saved FromValue(const std::optional<Value>& value);  // anything malformed reads as nothing
        Value ToValue() const;
    };

    // The pure part. The window's top left for a window of `size`: the saved position on the last screen
    // if that screen still exists, else the one saved for the primary (screens[primary]), else the top
    // right of the primary with the margin; always kept inside the screen's area.
    static QPoint Choose(const std::vector<Screen>& screens, size_t primary, const Saved& saved, QSize size);
    // Moved as little as needed to lie inside the area (its top left wins when it is larger).
    static QPoint KeepInside(QRect window, QRect area);

    // Places the window now (before it is shown) and from then on saves its place when it moves (a second
    // after it stops) or is hidden or closed, keeps it inside its screen when it grows, and when it is shown
    // again after its screen went away, places it anew. The window owns it.
    static WindowPlacement* Attach(QWindow& window);

private:
    explicit WindowPlacement(QWindow& window);
    void Place();
    void KeepOnScreen();
    void Save();
    static std::vector<Screen> Screens(size_t* primary);

    QPointer<QWindow> window_;
    QTimer saveTimer_;
    bool placing_ = false;
};

}  // namespace platform
