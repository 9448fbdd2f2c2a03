#pragma once

#include <any>
#include <functional>
#include <memory>

class QQmlEngine;
class QQuickItem;

namespace platform {

class CoreDispatcher;

// What the frame hands a page it creates, on the UI thread.
struct PageContext {
    // The engine of the window the frame is in (one per window, so a new launch gets a new one): create the
    // page's markup with it. The host's chrome was made with it already, but nothing has gone to the
    // network yet, so the page may still install engine-wide things (a network access manager factory,
    // image providers, context properties) before it creates its markup.
    QQmlEngine& engine;
    // The navigation parameter, as given to Frame::Navigate. The shell passes the Game Bar widget as a
    // std::shared_ptr<platform::IGameBarWidget>; anything else (or nothing) means the page has no widget.
    const std::any& parameter;
    // The UI thread's dispatcher (CoreDispatcher::ForCurrentThread() on the UI thread).
    std::shared_ptr<CoreDispatcher> dispatcher;

    // The parameter as a T, or null when it holds something else.
    template <typename T>
    const T* ParameterAs() const {
        return std::any_cast<T>(&parameter);
    }
};

// One page of a frame: a C++ object (its code) that owns a QML item (its markup).
//
// How a page comes to be shown: it registers a factory under its runtime type name with the
// PageRegistry that the application hands out as its page types (in the app: one entry of the front-end
// list, Velmora/FrontEnds.cpp). Frame::Navigate(typeName, parameter) looks the name up, calls the factory
// with a PageContext on the UI thread and shows Item(), sized to fill the frame. A factory that throws,
// returns null or a page without an item fails the navigation (the frame's NavigationFailed event), so a
// broken page never takes the process down.
//
// Lifetime: the frame and the shell hold the page through shared references on the UI thread; when the
// window closes, the shell calls Shutdown() once, on the UI thread, then drops its reference, and the
// page is destroyed on the UI thread soon after, before its window and engine. Work a page starts on
// other threads must hold it only weakly (weak_from_this, then lock after switching back to the UI
// thread), so that nothing touches a page that has gone.
//
// The host draws the window's background (dark, translucent, rounded): a page leaves its own background
// transparent, or the rounded corners show square.
class Page {
public:
    virtual ~Page() = default;

    // The page's markup, owned by the page; the same item for the page's whole life.
    virtual QQuickItem* Item() const = 0;
    // Releases what the page holds for the widget's lifetime. Called once by the shell when the widget
    // window closes; the page is not shown again afterwards.
    virtual void Shutdown() = 0;
};

using PageFactory = std::function<std::shared_ptr<Page>(const PageContext& context)>;

}  // namespace platform
