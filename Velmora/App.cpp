#include "Velmora/App.h"

#include <any>
#include <string>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/GameBar/GameBarWidget.h"
#include "Platform/GameBar/GameBarWidgetActivatedEventArgs.h"
#include "Platform/Ui/Frame.h"
#include "Platform/Ui/Page.h"
#include "Platform/Ui/PageRegistry.h"
#include "Velmora/ModeCheck.h"
#include "Velmora/PageTypes.h"

namespace velmora {

App::App(std::shared_ptr<const platform::PageRegistry> pageTypes) : pageTypes_(std::move(pageTypes)) {}

const platform::PageRegistry* App::PageTypes() const {
    return pageTypes_.get();
}

const platform::GameBarWidgetActivatedEventArgs* App::WidgetLaunchOf(
    const platform::IActivatedEventArgs& args) {
    if (args.Kind() != platform::ActivationKind::Protocol) return nullptr;
    const auto* protocol = dynamic_cast<const platform::ProtocolActivatedEventArgs*>(&args);
    if (!protocol || protocol->SchemeName() != "ms-gamebarwidget") return nullptr;
    const auto* widget = dynamic_cast<const platform::GameBarWidgetActivatedEventArgs*>(&args);
    if (!widget || !widget->IsLaunchActivation()) return nullptr;
    return widget;
}

void App::OnActivated(const platform::IActivatedEventArgs& args) {
    const platform::GameBarWidgetActivatedEventArgs* widgetArgs = WidgetLaunchOf(args);
    if (!widgetArgs) return;

    auto frame = std::make_shared<platform::Frame>();
    frame->NavigationFailed([](const platform::NavigationFailedEventArgs& failure) {
        throw platform::PlatformError(platform::E_FAIL,
                                      "Failed to load Page " + failure.SourcePageType().Name);
    });
    auto window = platform::Window::Current();
    window->Content(frame);
    widget_ = std::make_shared<platform::GameBarWidget>(*widgetArgs, *window, frame);

    const std::string pageType = ChosenPageType();
    frame->Navigate(pageType, std::any(std::shared_ptr<platform::IGameBarWidget>(widget_)));
    if (pageType == kWebViewPageType) {
        webViewPage_ = frame->Content();
    } else {
        nativePage_ = frame->Content();
    }

    std::weak_ptr<App> weak = weak_from_this();
    closedToken_ = window->Closed([weak] {
        if (auto self = weak.lock()) self->OnWindowClosed();
    });
    window->Activate();
}

void App::OnWindowClosed() {
    if (nativePage_) {
        nativePage_->Shutdown();
        nativePage_ = nullptr;
    }
    if (webViewPage_) {
        webViewPage_->Shutdown();
        webViewPage_ = nullptr;
    }
    widget_ = nullptr;
    platform::Window::Current()->Closed(closedToken_);
}

}  // namespace velmora
