#include "Platform/GameBar/GlobalShortcut.h"

#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <variant>

#include "Platform/GameBar/GameBarHostControls.h"
#include "Platform/GameBar/KeyCombination.h"
#include "Platform/Storage/ApplicationData.h"
#include "Platform/Storage/LocalSettings.h"

namespace platform {

namespace {

constexpr uint16_t kCompared =
    KeyCombination::kShift | KeyCombination::kControl | KeyCombination::kAlt | KeyCombination::kSuper;
// Caps Lock and Num Lock on or off: the combination is the same to the player.
constexpr uint16_t kLockStates[] = {0, KeyCombination::kCapsLock, KeyCombination::kNumLock,
                                    KeyCombination::kCapsLock | KeyCombination::kNumLock};
constexpr uint8_t kBadAccess = 10;

uint8_t KeycodeOf(xcb_connection_t* connection, uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const uint8_t first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, first, static_cast<uint8_t>(count)), nullptr);
    if (!reply) return 0;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perKeycode = reply->keysyms_per_keycode;
    uint8_t found = 0;
    // The key that gives the keysym unshifted, else any that gives it.
    for (int column = 0; column < perKeycode && !found; ++column) {
        for (int index = 0; index < count; ++index) {
            if (keysyms[index * perKeycode + column] == keysym) {
                found = static_cast<uint8_t>(first + index);
                break;
            }
        }
    }
    std::free(reply);
    return found;
}

}  // namespace

GlobalShortcut::GlobalShortcut(std::shared_ptr<GameBarHostControls> controls, std::function<void()> onPressed)
    : controls_(std::move(controls)), onPressed_(std::move(onPressed)) {
    auto* application = qGuiApp;
    if (auto* x11 =
            application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        connection_ = x11->connection();
    }
    if (!connection_) {
        if (QGuiApplication::platformName() == QLatin1String("wayland")) {
            std::fprintf(stderr,
                         "velmora: no global shortcut on Wayland; bind `velmora --toggle` in the desktop's "
                         "keyboard settings\n");
        }
        return;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    QCoreApplication::instance()->installNativeEventFilter(this);

    // The settings file is replaced (written beside, then renamed) on every change: its folder is watched,
    // and watched again when it is removed and the next save makes it anew.
    reloadTimer_.setSingleShot(true);
    reloadTimer_.setInterval(200);
    connect(&reloadTimer_, &QTimer::timeout, this, [this] { Reload(); });
    const QString settings = QString::fromStdString(ApplicationData::Current().LocalSettings().FilePath());
    const QString folder = QFileInfo(settings).absolutePath();
    QDir().mkpath(folder);
    watcher_ = std::make_unique<FolderWatcher>(folder, [this] { reloadTimer_.start(); });
    Reload();
}

GlobalShortcut::~GlobalShortcut() {
    if (!connection_) return;
    QCoreApplication::instance()->removeNativeEventFilter(this);
    Release();
}

void GlobalShortcut::Reload() {
    if (!connection_) return;
    LocalSettings& settings = ApplicationData::Current().LocalSettings();
    std::optional<Value> value = settings.Lookup(kSettingsKey);
    std::string text;
    if (!value) {
        // Written with its default, so that the player finds where to change it.
        text = kDefault;
        settings.Insert(kSettingsKey, Value(text));
    } else if (value->Kind() != ValueKind::String) {
        text = "\x01not a text";  // no parse can accept it
    } else {
        text = value->AsString();
    }
    if (haveText_ && text == text_) return;
    haveText_ = true;
    text_ = text;
    Bind(text);
}

void GlobalShortcut::Bind(const std::string& text) {
    Release();
    const std::string file = ApplicationData::Current().LocalSettings().FilePath();
    if (text.rfind('\x01', 0) == 0) {
        std::fprintf(stderr,
                     "velmora: %s in %s is not a text; no global shortcut (velmora --toggle still works)\n",
                     kSettingsKey, file.c_str());
        return;
    }
    if (text.empty()) return;  // none wanted
    auto parsed = KeyCombination::Parse(text);
    if (auto* reason = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr,
                     "velmora: the shortcut %s in %s is not one: %s; no global shortcut (velmora --toggle "
                     "still works)\n",
                     kSettingsKey, file.c_str(), reason->c_str());
        return;
    }
    const KeyCombination& combination = std::get<KeyCombination>(parsed);
    std::string failure;
    if (!Grab(combination.keysym, combination.modifiers, &failure)) {
        std::fprintf(stderr, "velmora: the shortcut %s cannot be used: %s (velmora --toggle still works)\n",
                     combination.ToString().c_str(), failure.c_str());
        return;
    }
    controls_->ToggleShortcut(combination.ToString());
}

bool GlobalShortcut::Grab(uint32_t keysym, uint16_t modifiers, std::string* failure) {
    const uint8_t keycode = KeycodeOf(connection_, keysym);
    if (!keycode) {
        *failure = "no key of this keyboard gives it";
        return false;
    }
    xcb_void_cookie_t cookies[std::size(kLockStates)];
    for (size_t i = 0; i < std::size(kLockStates); ++i) {
        cookies[i] = xcb_grab_key_checked(connection_, 0, root_, modifiers | kLockStates[i], keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool taken = false;
    bool failed = false;
    for (auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            failed = true;
            taken = taken || error->error_code == kBadAccess;
            std::free(error);
        }
    }
    keycode_ = keycode;
    modifiers_ = modifiers;
    keysym_ = keysym;
    if (failed) {
        Release();
        *failure = taken ? "another program holds it" : "the X server refused to grab it";
        return false;
    }
    return true;
}

void GlobalShortcut::Release() {
    controls_->ToggleShortcut({});
    if (!keycode_) return;
    // Only what is ours goes: an ungrab of a combination another client holds does nothing.
    for (uint16_t locks : kLockStates) xcb_ungrab_key(connection_, keycode_, root_, modifiers_ | locks);
    xcb_flush(connection_);
    keycode_ = 0;
    down_ = false;
}

bool GlobalShortcut::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message) return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
        // Another keyboard layout: the key may sit elsewhere now.
        auto* mapping = reinterpret_cast<xcb_mapping_notify_event_t*>(event);
        if (mapping->request == XCB_MAPPING_KEYBOARD && keycode_) {
            QTimer::singleShot(0, this, [this] {
                haveText_ = false;
                Reload();
            });
        }
        return false;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
    if (!keycode_ || key->detail != keycode_) return false;
    // The key's release counts with any modifiers: they often go up first.
    if (type == XCB_KEY_RELEASE) {
        if (!down_) return false;
        down_ = false;
        releasedAt_ = key->time;
        return true;
    }
    if ((key->state & kCompared) != modifiers_) return false;
    // A held key repeats: as presses alone, or (without detectable repeat) as releases and presses with
    // the same time. Only the first press toggles.
    const bool repeat = down_ || (releasedAt_ != 0 && key->time == releasedAt_);
    down_ = true;
    if (!repeat && onPressed_)
        QTimer::singleShot(0, this, [this] {
            if (onPressed_) onPressed_();
        });
    return true;
}

}  // namespace platform
