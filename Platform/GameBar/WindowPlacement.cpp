#include "Platform/GameBar/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "Platform/Storage/ApplicationData.h"
#include "Platform/Storage/LocalSettings.h"

namespace platform {

namespace {

constexpr int kSaveDelayMs = 1000;

bool IsInt(const ValueSet& set, const char* key) {
    return set.HasKey(key) && set.Lookup(key).Kind() == ValueKind::Int32;
}

}  // namespace

WindowPlacement::Saved WindowPlacement::Saved::FromValue(const std::optional<Value>& value) {
    Saved saved;
    if (!value || value->Kind() != ValueKind::ValueSet) return saved;
    const ValueSet& set = value->AsValueSet();
    if (set.HasKey("screen") && set.Lookup("screen").Kind() == ValueKind::String) {
        saved.screen = set.Lookup("screen").AsString();
    }
    if (set.HasKey("positions") && set.Lookup("positions").Kind() == ValueKind::ValueSet) {
        const ValueSet& positions = set.Lookup("positions").AsValueSet();
        for (const auto& [name, entry] : positions) {
            if (entry.Kind() != ValueKind::ValueSet) continue;
            const ValueSet& point = entry.AsValueSet();
            if (!IsInt(point, "x") || !IsInt(point, "y")) continue;
            saved.positions[name] = QPoint(point.Lookup("x").AsInt32(), point.Lookup("y").AsInt32());
        }
    }
    return saved;
}

Value WindowPlacement::Saved::ToValue() const {
    ValueSet positionsSet;
    for (const auto& [name, point] : positions) {
        ValueSet entry;
        entry.Insert("x", Value(static_cast<int32_t>(point.x())));
        entry.Insert("y", Value(static_cast<int32_t>(point.y())));
        positionsSet.Insert(name, Value(std::move(entry)));
    }
    ValueSet set;
    set.Insert("screen", Value(screen));
    set.Insert("positions", Value(std::move(positionsSet)));
    return Value(std::move(set));
}

QPoint WindowPlacement::KeepInside(QRect window, QRect area) {
    int x = std::max(area.left(), std::min(window.x(), area.right() + 1 - window.width()));
    int y = std::max(area.top(), std::min(window.y(), area.bottom() + 1 - window.height()));
    // Larger than the area: its top left corner stays visible.
    if (window.width() > area.width()) x = area.left();
    if (window.height() > area.height()) y = area.top();
    return {x, y};
}

QPoint WindowPlacement::Choose(const std::vector<Screen>& screens, size_t primary, const Saved& saved,
                               QSize size) {
    if (screens.empty()) return {0, 0};
    if (primary >= screens.size()) primary = 0;
    auto find = [&](const std::string& name) -> const Screen* {
        for (const auto& screen : screens) {
            if (screen.name == name) return &screen;
        }
        return nullptr;
    };
    const Screen* screen = saved.screen.empty() ? nullptr : find(saved.screen);
    auto position = screen ? saved.positions.find(screen->name) : saved.positions.end();
    if (!screen || position == saved.positions.end()) {
        screen = &screens[primary];
        position = saved.positions.find(screen->name);
    }
    const QRect& area = screen->area;
    // A saved place comes from a file anyone may edit: it is taken no further than the screen's own size
    // from its corner (where it ends up anyway) before it is added to the corner, which it could overflow.
    auto within = [](int relative, int extent) { return std::clamp(relative, 0, std::max(extent, 0)); };
    QPoint topLeft = position != saved.positions.end()
                         ? area.topLeft() + QPoint(within(position->second.x(), area.width()),
                                                   within(position->second.y(), area.height()))
                         : QPoint(area.right() + 1 - kMargin - size.width(), area.top() + kMargin);
    return KeepInside(QRect(topLeft, size), area);
}

std::vector<WindowPlacement::Screen> WindowPlacement::Screens(size_t* primary) {
    std::vector<Screen> screens;
    *primary = 0;
    const QScreen* primaryScreen = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen == primaryScreen) *primary = screens.size();
        screens.push_back({screen->name().toStdString(), screen->availableGeometry()});
    }
    return screens;
}

WindowPlacement* WindowPlacement::Attach(QWindow& window) {
    auto* placement = new WindowPlacement(window);
    placement->Place();
    return placement;
}

WindowPlacement::WindowPlacement(QWindow& window) : QObject(&window), window_(&window) {
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kSaveDelayMs);
    connect(&saveTimer_, &QTimer::timeout, this, [this] { Save(); });
    auto moved = [this] {
        if (!placing_ && window_ && window_->isVisible()) saveTimer_.start();
    };
    connect(&window, &QWindow::xChanged, this, moved);
    connect(&window, &QWindow::yChanged, this, moved);
    auto resized = [this] {
        if (window_ && window_->isVisible()) KeepOnScreen();
    };
    connect(&window, &QWindow::widthChanged, this, resized);
    connect(&window, &QWindow::heightChanged, this, resized);
    connect(&window, &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible) {
            // Hidden or closed: where it was is kept now.
            saveTimer_.stop();
            Save();
        } else {
            KeepOnScreen();
        }
    });
}

void WindowPlacement::Place() {
    if (!window_) return;
    size_t primary = 0;
    auto screens = Screens(&primary);
    if (screens.empty()) return;
    const Saved saved = Saved::FromValue(ApplicationData::Current().LocalSettings().Lookup(kSettingsKey));
    placing_ = true;
    window_->setPosition(Choose(screens, primary, saved, window_->size()));
    placing_ = false;
}

void WindowPlacement::KeepOnScreen() {
    if (!window_) return;
    const QRect frame = window_->geometry();
    QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen) screen = QGuiApplication::screenAt(frame.topLeft());
    if (!screen) {
        // Its screen went away (while it was hidden, say): placed anew, as at a start.
        Place();
        return;
    }
    const QPoint inside = KeepInside(frame, screen->availableGeometry());
    if (inside != frame.topLeft()) {
        placing_ = true;
        window_->setPosition(inside);
        placing_ = false;
        saveTimer_.start();
    }
}

void WindowPlacement::Save() {
    if (!window_) return;
    const QRect frame = window_->geometry();
    QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen) screen = QGuiApplication::screenAt(frame.topLeft());
    if (!screen) return;  // off every screen: nothing worth keeping
    LocalSettings& settings = ApplicationData::Current().LocalSettings();
    Saved saved = Saved::FromValue(settings.Lookup(kSettingsKey));
    saved.screen = screen->name().toStdString();
    const QPoint relative = frame.topLeft() - screen->availableGeometry().topLeft();
    if (saved.positions.count(saved.screen) && saved.positions[saved.screen] == relative) {
        // Nothing new: the file stays as it is.
        return;
    }
    saved.positions[saved.screen] = relative;
    settings.Insert(kSettingsKey, saved.ToValue());
}

}  // namespace platform
