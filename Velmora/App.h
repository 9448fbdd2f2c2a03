#pragma once

#include <memory>

#include "Platform/Ui/Application.h"
#include "Platform/Ui/Window.h"

namespace platform {
class GameBarWidget;
class GameBarWidgetActivatedEventArgs;
class Page;
class PageRegistry;
}  // namespace platform

namespace velmora {

// The application: on a widget launch it builds the widget window's content (a frame), the Game Bar
// widget object and the page of the front end the mode file selects; when the window closes it shuts that
// page down. Everything runs on the UI thread. Make it with std::make_shared: the window-closed handler
// holds it weakly.
class App final : public platform::Application, public std::enable_shared_from_this<App> {
public:
    // pageTypes: the page factories by runtime type name, which the frames navigate by.
    explicit App(std::shared_ptr<const platform::PageRegistry> pageTypes);

    void OnActivated(const platform::IActivatedEventArgs& args) override;
    const platform::PageRegistry* PageTypes() const override;

    // The activation filter: the widget arguments of a widget launch activation, else null (not a
    // protocol activation, another scheme, not a widget activation, or a re-activation).
    static const platform::GameBarWidgetActivatedEventArgs* WidgetLaunchOf(
        const platform::IActivatedEventArgs& args);

    const std::shared_ptr<platform::GameBarWidget>& Widget() const { return widget_; }
    const std::shared_ptr<platform::Page>& NativePage() const { return nativePage_; }
    const std::shared_ptr<platform::Page>& WebViewPage() const { return webViewPage_; }

private:
    void OnWindowClosed();

    std::shared_ptr<const platform::PageRegistry> pageTypes_;
    std::shared_ptr<platform::GameBarWidget> widget_;
    std::shared_ptr<platform::Page> nativePage_;
    std::shared_ptr<platform::Page> webViewPage_;
    platform::Window::Token closedToken_ = 0;
};

}  // namespace velmora
