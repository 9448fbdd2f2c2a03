#pragma once

#include <memory>

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

namespace testsupport {

// A visible window whose QML scene holds "host", the element a web view goes into (320 x 440), between
// two focusable items "before" and "after".
class HostWindow {
public:
    HostWindow();
    ~HostWindow();

    QQuickWindow* Window() const { return window_.get(); }
    QQuickItem* Find(const char* name) const;

private:
    QQmlEngine engine_;
    std::unique_ptr<QQuickWindow> window_;
};

}  // namespace testsupport
