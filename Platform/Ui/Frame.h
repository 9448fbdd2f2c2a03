#pragma once

#include <QPointer>
#include <QQmlEngine>
#include <any>
#include <functional>
#include <memory>
#include <string_view>

#include "Platform/Foundation/EventSource.h"
#include "Platform/Ui/NavigationFailedEventArgs.h"
#include "Platform/Ui/Page.h"

class QQuickItem;

namespace platform {

// The navigation frame that is a window's content: it creates pages by runtime type name through the
// page types of the current Application and shows one page at a time. UI thread only; it must also be
// destroyed there.
class Frame {
public:
    using NavigationFailedHandler = std::function<void(const NavigationFailedEventArgs&)>;

    Frame();
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    // Creates the page registered under typeName, hands it the parameter and shows it in place of the
    // current one. Any failure (unknown name, no window, a factory that throws or yields no page) raises
    // NavigationFailed and returns false; an error a NavigationFailed handler raises reaches the caller.
    bool Navigate(std::string_view typeName, std::any parameter);
    std::shared_ptr<Page> Content() const { return content_; }

    EventSource<const NavigationFailedEventArgs&>::Token NavigationFailed(NavigationFailedHandler handler);
    void NavigationFailed(EventSource<const NavigationFailedEventArgs&>::Token token);

    // The frame's own item, which the window places and sizes; the page's item fills it.
    QQuickItem* Item() const { return item_.get(); }

private:
    friend class Window;
    // Set by the window whose content the frame becomes: pages are created with that window's engine.
    void AttachEngine(QQmlEngine* engine) { engine_ = engine; }

    std::unique_ptr<QQuickItem> item_;
    QPointer<QQmlEngine> engine_;
    std::shared_ptr<Page> content_;
    EventSource<const NavigationFailedEventArgs&> navigationFailed_;
};

}  // namespace platform
