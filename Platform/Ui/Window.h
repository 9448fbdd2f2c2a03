#pragma once

#include <QPointF>
#include <QPointer>
#include <functional>
#include <memory>

#include "Platform/Foundation/EventSource.h"

class QQmlEngine;
class QQuickItem;
class QQuickWindow;

namespace platform {

class Frame;

// The window of the current activation: a Qt Quick window with an engine of its own, whose content is a
// frame. The platform keeps one current window; once it closes, the next Current() is a new window, so a
// launch after a close builds everything anew. UI thread only.
class Window : public std::enable_shared_from_this<Window> {
public:
    using ClosedHandler = std::function<void()>;
    using Token = EventSource<>::Token;

    // The current window, made when there is none (not shown until Activate).
    static std::shared_ptr<Window> Current();
    // The current window if it is shown, else null.
    static std::shared_ptr<Window> Shown();
    // The current window if it is open: activated and not closed, shown or hidden (Hide). Else null.
    static std::shared_ptr<Window> Open();
    // Destroys closed windows (with their frames and pages). A closed window is kept until then because
    // it closes from inside its own event handling; Current() does this too.
    static void ReleaseClosed();
    // Destroys every window, shown or not: the last step before the application object goes.
    static void ReleaseAll();
    // Called after any window has closed and its Closed handlers have run; `handlerFailed` tells whether
    // one of them raised an error. The host ends the process from here.
    static void AfterClosed(std::function<void(bool handlerFailed)> callback);

    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void Content(std::shared_ptr<Frame> frame);
    std::shared_ptr<Frame> Content() const { return content_; }

    QQuickWindow& CoreWindow() const { return *quickWindow_; }
    QQmlEngine& Engine() const { return *engine_; }

    // What the decoration does for content that keeps the pointer to itself (a web view takes every
    // press), when that content asks: open the decoration's menu at a point of the scene, or move the
    // window with the pointer whose button is down now.
    struct DecorationRequests {
        std::function<void(QPointF scenePosition)> openMenu;
        std::function<void()> startMove;
    };

    // Puts a decoration (the host's chrome) around the content: the window owns it from now on and the
    // content goes into contentSlot, an item inside it. Replaces and deletes an earlier decoration.
    void Decorate(QQuickItem* decoration, QQuickItem* contentSlot, DecorationRequests requests = {});
    // Passed on to the decoration; nothing happens without one.
    void OpenDecorationMenu(QPointF scenePosition);
    void StartDecorationMove();

    // The window that shows this Qt window, if it is one of ours (current or closed, not yet released).
    static std::shared_ptr<Window> Of(const QQuickWindow* coreWindow);

    Token Closed(ClosedHandler handler);
    void Closed(Token token);

    // Shows the window and asks for the focus; a window hidden before its activation stays hidden.
    void Activate();
    bool IsShown() const;
    // Hides the window without closing it: the content lives on, and Show brings it back as it was. Before
    // the activation, the activation opens the window hidden.
    void Hide();
    // Shows a hidden window again (and a shown one stays as it is), raised and asking for the focus.
    void Show();
    bool IsHidden() const { return hidden_ && !isClosed_; }
    bool IsOpen() const;
    // Closes the window as its close button would; Closed is raised once it is closed.
    void Close();

private:
    Window();
    void PlaceContent();
    void OnClosed();

    std::unique_ptr<QQmlEngine> engine_;
    std::unique_ptr<QQuickWindow> quickWindow_;
    QPointer<QQuickItem> decoration_;
    QPointer<QQuickItem> contentSlot_;
    DecorationRequests decorationRequests_;
    std::shared_ptr<Frame> content_;
    EventSource<> closed_;
    bool isClosed_ = false;
    bool activated_ = false;
    bool hidden_ = false;
};

}  // namespace platform
