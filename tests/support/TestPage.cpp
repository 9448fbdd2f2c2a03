#include "tests/support/TestPage.h"

#include <time.h>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <cstdio>
#include <stdexcept>

#include "Platform/Threading/CoreDispatcher.h"

namespace testsupport {

namespace {

std::atomic<int> created{0};

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

const char* kEmptyPage = "import QtQuick\nItem {}\n";
const char* kLabelledPage = R"(import QtQuick
Item {
    property string label
    Column {
        anchors.centerIn: parent
        spacing: 6
        Text { anchors.horizontalCenter: parent.horizontalCenter; text: label; textFormat: Text.PlainText
               color: "white"; font.pixelSize: 16; font.weight: Font.DemiBold }
        Text { anchors.horizontalCenter: parent.horizontalCenter; text: "Right-click for the host's menu"
               color: Qt.rgba(1, 1, 1, 0.7); font.pixelSize: 13 }
    }
}
)";

}  // namespace

TestPage::TestPage(const platform::PageContext& context, std::string typeName, std::string label,
                   Report report)
    : typeName_(std::move(typeName)), report_(std::move(report)), dispatcher_(context.dispatcher) {
    int number = ++created;
    if (auto* widget = context.ParameterAs<std::shared_ptr<platform::IGameBarWidget>>()) widget_ = *widget;

    QQmlComponent component(&context.engine);
    component.setData(label.empty() ? kEmptyPage : kLabelledPage, QUrl());
    item_ = qobject_cast<QQuickItem*>(component.create());
    if (!item_) throw std::runtime_error("the test page's markup did not load");
    if (!label.empty()) item_->setProperty("label", QString::fromStdString(label));

    if (widget_) {
        auto onChange = [this](int& counter, const std::string& line) {
            ++counter;
            if (!dispatcher_ || !dispatcher_->HasThreadAccess()) changesOnUiThread_ = false;
            Say(line + " pages=" + std::to_string(created.load()));
        };
        displayModeToken_ = widget_->GameBarDisplayModeChanged([this, onChange] {
            onChange(displayModeChanges_,
                     "DISPLAY_MODE " + std::to_string(static_cast<int>(widget_->DisplayMode())));
        });
        opacityToken_ = widget_->RequestedOpacityChanged([this, onChange] {
            char value[32];
            std::snprintf(value, sizeof value, "%.2f", widget_->RequestedOpacity());
            onChange(opacityChanges_, std::string("OPACITY ") + value);
        });
    }
    QObject::connect(item_, &QQuickItem::windowChanged, item_, [this](QQuickWindow* window) {
        if (!window) return;
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(window, &QQuickWindow::frameSwapped, item_, [this, connection] {
            QObject::disconnect(*connection);
            Say("FIRST_FRAME " + std::to_string(MonotonicNs()));
        });
    });
    std::string widgetState = "0";
    if (widget_) {
        char state[64];
        std::snprintf(state, sizeof state, "1 mode=%d opacity=%.2f", static_cast<int>(widget_->DisplayMode()),
                      widget_->RequestedOpacity());
        widgetState = state;
    }
    Say("PAGE " + typeName_ + " " + std::to_string(number) + " widget=" + widgetState);
}

TestPage::~TestPage() {
    if (widget_) {
        widget_->GameBarDisplayModeChanged(displayModeToken_);
        widget_->RequestedOpacityChanged(opacityToken_);
    }
    delete item_.data();
}

void TestPage::Shutdown() {
    ++shutdownCount_;
    if (widget_) {
        widget_->GameBarDisplayModeChanged(displayModeToken_);
        widget_->RequestedOpacityChanged(opacityToken_);
    }
    Say("SHUTDOWN " + typeName_);
}

void TestPage::Say(const std::string& line) const {
    if (report_) report_(line);
}

platform::PageFactory TestPage::Factory(std::string typeName, std::string label, Report report) {
    return [typeName, label, report](const platform::PageContext& context) {
        return std::make_shared<TestPage>(context, typeName, label, report);
    };
}

int TestPage::CreatedCount() {
    return created.load();
}

}  // namespace testsupport
