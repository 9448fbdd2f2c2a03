#include "tests/support/HostWindow.h"

#include <stdexcept>

#include <QQmlComponent>

namespace testsupport {

HostWindow::HostWindow() {
    QQmlComponent component(&engine_);
    component.setData(R"(
        import QtQuick
        import QtQuick.Window
        Window {
            width: 320; height: 480; visible: true
            Column {
                anchors.fill: parent
                Rectangle { objectName: "before"; width: 320; height: 20; activeFocusOnTab: true }
                Item { objectName: "host"; width: 320; height: 440 }
                Rectangle { objectName: "after"; width: 320; height: 20; activeFocusOnTab: true }
            }
        })",
                      QUrl());
    window_.reset(qobject_cast<QQuickWindow*>(component.create()));
    if (!window_) throw std::runtime_error(component.errorString().toStdString());
}

HostWindow::~HostWindow() = default;

QQuickItem* HostWindow::Find(const char* name) const {
    return window_->findChild<QQuickItem*>(name);
}

}  // namespace testsupport
