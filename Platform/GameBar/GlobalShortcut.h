#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Ui/FolderWatcher.h"

struct xcb_connection_t;

namespace platform {

class GameBarHostControls;

// The widget host's global shortcut: a key combination that toggles the widget window from any program,
// read from the settings file (key "ToggleShortcut", a text such as "Super+Alt+M"; written there with
// that default when missing; an empty text binds none) and bound again when the file changes. On X11 it
// is an XGrabKey on the root window through the xcb connection Qt already has; the key presses arrive in
// Qt's event loop through a native event filter. Where no client may grab keys (Wayland, offscreen) there
// is none, and the desktop's own keyboard settings bind `velmora --toggle` instead. A text that does not
// parse, or a key another program holds, is said in one line on standard error (once for each text); the
// commands work all the same. The controls learn the combination bound, for the host's menu. UI thread
// only.
class GlobalShortcut final : public QObject, public QAbstractNativeEventFilter {
public:
    static constexpr const char* kSettingsKey = "ToggleShortcut";
    static constexpr const char* kDefault = "Super+Alt+M";

    GlobalShortcut(std::shared_ptr<GameBarHostControls> controls, std::function<void()> onPressed);
    ~GlobalShortcut() override;

    // Reads the settings and binds what they say now (nothing changes when the text is the same).
    void Reload();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void Bind(const std::string& text);
    void Release();
    bool Grab(uint32_t keysym, uint16_t modifiers, std::string* failure);

    std::shared_ptr<GameBarHostControls> controls_;
    std::function<void()> onPressed_;
    xcb_connection_t* connection_ = nullptr;
    uint32_t root_ = 0;
    QTimer reloadTimer_;
    std::unique_ptr<FolderWatcher> watcher_;  // restarts reloadTimer_
    std::string text_;                        // the settings' text last bound (or refused)
    bool haveText_ = false;
    uint32_t keysym_ = 0;
    uint8_t keycode_ = 0;  // 0: nothing grabbed
    uint16_t modifiers_ = 0;
    bool down_ = false;        // the key is held: its repeats toggle nothing
    uint32_t releasedAt_ = 0;  // the X time of the last release (a repeat comes with the same time)
};

}  // namespace platform
