#pragma once

namespace platform {

// What the web view runtime needs before the application object exists: the content scheme must be
// registered and QtWebEngine initialised before QGuiApplication is constructed, or neither takes effect.
class WebViewRuntime {
public:
    // Call once, first thing in main. A second call does nothing.
    static void InitializeBeforeApplication();
};

}  // namespace platform
