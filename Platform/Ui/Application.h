#pragma once

#include <exception>

#include "Platform/Ui/IActivatedEventArgs.h"
#include "Platform/Ui/LaunchActivatedEventArgs.h"

namespace platform {

class PageRegistry;

// The application object of the process: the activation hooks an application overrides, and the page
// types its frames navigate by. One exists at a time, created and used on the UI thread.
class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application* Current();

    // A plain start (no URI). The default shows nothing.
    virtual void OnLaunched(const LaunchActivatedEventArgs& args);
    // Every other activation. The default does nothing.
    virtual void OnActivated(const IActivatedEventArgs& args);
    // The page types a frame creates pages from (the markup's type metadata); none by default.
    virtual const PageRegistry* PageTypes() const;

    // Hands an activation to its hook. An error the hook raises ends it there and comes back here, as
    // the result the platform reports; null when the hook returned.
    static std::exception_ptr Activate(Application& application, const IActivatedEventArgs& args);
};

}  // namespace platform
