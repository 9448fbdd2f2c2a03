#include "Platform/Ui/Application.h"

namespace platform {

namespace {
Application* current = nullptr;
}

Application::Application() {
    current = this;
}

Application::~Application() {
    if (current == this) current = nullptr;
}

Application* Application::Current() {
    return current;
}

void Application::OnLaunched(const LaunchActivatedEventArgs&) {}

void Application::OnActivated(const IActivatedEventArgs&) {}

const PageRegistry* Application::PageTypes() const {
    return nullptr;
}

std::exception_ptr Application::Activate(Application& application, const IActivatedEventArgs& args) {
    try {
        if (auto* launch = dynamic_cast<const LaunchActivatedEventArgs*>(&args)) {
            application.OnLaunched(*launch);
        } else {
            application.OnActivated(args);
        }
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

}  // namespace platform
