#include "Platform/Ui/Frame.h"

#include <QQmlEngine>
#include <QQuickItem>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "Platform/Ui/Application.h"
#include "Platform/Ui/FillParent.h"
#include "Platform/Ui/PageRegistry.h"

namespace platform {

namespace {

PageFactory FindPageType(std::string_view typeName) {
    Application* application = Application::Current();
    const PageRegistry* types = application ? application->PageTypes() : nullptr;
    PageFactory factory = types ? types->Find(typeName) : PageFactory();
    if (!factory) throw PlatformError(E_FAIL, "no page type is registered under that name");
    return factory;
}

}  // namespace

Frame::Frame() : item_(std::make_unique<QQuickItem>()) {
    item_->setObjectName(QStringLiteral("platform.Frame"));
}

Frame::~Frame() {
    // The page's item must leave the frame's item before that goes; the page itself may live on a
    // little in other hands.
    if (content_ && content_->Item()) content_->Item()->setParentItem(nullptr);
}

bool Frame::Navigate(std::string_view typeName, std::any parameter) {
    std::shared_ptr<Page> page;
    std::exception_ptr failure;
    try {
        PageFactory factory = FindPageType(typeName);
        if (!engine_) throw PlatformError(E_FAIL, "the frame is not the content of a window");
        page = factory(PageContext{*engine_, parameter, CoreDispatcher::ForCurrentThread()});
        if (!page) throw PlatformError(E_FAIL, "the page factory returned no page");
        if (!page->Item()) {
            // Built but unusable: let it release what it started before it goes.
            std::shared_ptr<Page> unusable = std::move(page);
            try {
                unusable->Shutdown();
            } catch (...) {
            }
            throw PlatformError(E_FAIL, "the page has no content item");
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        navigationFailed_.Raise(NavigationFailedEventArgs(TypeName{std::string(typeName)}, failure));
        return false;
    }
    if (content_ && content_->Item()) content_->Item()->setParentItem(nullptr);
    content_ = std::move(page);
    FillParent(content_->Item(), item_.get());
    return true;
}

EventSource<const NavigationFailedEventArgs&>::Token Frame::NavigationFailed(
    NavigationFailedHandler handler) {
    return navigationFailed_.Add(std::move(handler));
}

void Frame::NavigationFailed(EventSource<const NavigationFailedEventArgs&>::Token token) {
    navigationFailed_.Remove(token);
}

}  // namespace platform
