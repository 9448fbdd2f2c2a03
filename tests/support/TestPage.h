#pragma once

#include <QPointer>
#include <QQuickItem>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "Platform/GameBar/IGameBarWidget.h"
#include "Platform/Ui/Page.h"

namespace testsupport {

// A page for the shell's tests: it records what the shell did to it and, through `report`, says so in
// one line per event ("PAGE <type> <n> widget=0" or "... widget=1 mode=<m> opacity=<x>", "SHUTDOWN <type>",
// "DISPLAY_MODE <m> pages=<n>",
// "OPACITY <x> pages=<n>", "FIRST_FRAME <ns>" with the monotonic clock at the window's first frame).
class TestPage final : public platform::Page, public std::enable_shared_from_this<TestPage> {
public:
    using Report = std::function<void(const std::string& line)>;

    // `label` empty: an empty item, the lightest page there is.
    TestPage(const platform::PageContext& context, std::string typeName, std::string label, Report report);
    ~TestPage() override;

    // A factory registering this page under typeName.
    static platform::PageFactory Factory(std::string typeName, std::string label = {}, Report report = {});
    // Pages made in this process so far.
    static int CreatedCount();

    QQuickItem* Item() const override { return item_; }
    void Shutdown() override;

    const std::string& TypeName() const { return typeName_; }
    int ShutdownCount() const { return shutdownCount_; }
    const std::shared_ptr<platform::IGameBarWidget>& Widget() const { return widget_; }
    // Display-mode and opacity changes seen, and whether each arrived on the UI thread.
    int DisplayModeChanges() const { return displayModeChanges_; }
    int OpacityChanges() const { return opacityChanges_; }
    bool ChangesOnUiThread() const { return changesOnUiThread_; }

private:
    void Say(const std::string& line) const;

    std::string typeName_;
    Report report_;
    std::shared_ptr<platform::CoreDispatcher> dispatcher_;
    std::shared_ptr<platform::IGameBarWidget> widget_;
    QPointer<QQuickItem> item_;
    platform::IGameBarWidget::EventToken displayModeToken_ = 0;
    platform::IGameBarWidget::EventToken opacityToken_ = 0;
    int shutdownCount_ = 0;
    int displayModeChanges_ = 0;
    int opacityChanges_ = 0;
    bool changesOnUiThread_ = true;
};

}  // namespace testsupport
