#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/Foundation/Task.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "VelmoraUtils/LocalCoverGrant.h"

class QQuickItem;

namespace velmora {

// What the web-view page needs of its web view host: put the view into an element of the page, hear the
// web page's texts, and post texts to it. WebView2Host is the real one; the page's tests put a double here.
// UI thread only.
class IWebViewHost {
public:
    // Called on the UI thread, once per message the web page posts, with a copy of the text.
    using MessageCallback = std::function<void(std::string message)>;

    virtual ~IWebViewHost() = default;

    // Creates the view in hostElement, registers onMessage and navigates to the packaged page. Completes
    // once navigation has been requested; a failure ends it with the error.
    virtual platform::Task<void> Initialize(QQuickItem* hostElement,
                                            std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                            MessageCallback onMessage) = 0;
    // Whether Initialize has created the view: only then can anything be posted.
    virtual bool HasWebView() const = 0;
    // Hands one text to the web page's 'message' listeners.
    virtual void PostWebMessageAsString(const std::string& text) = 0;
    // Shows the packaged page anew in the existing view, as a fresh document that says "appReady" again.
    virtual void Reload() = 0;
    // Called on the UI thread when the view shows the packaged page anew by itself (its renderer ended),
    // before the fresh document can say "appReady".
    virtual void SetWebPageRestarted(std::function<void()> handler) = 0;
    // The local cover the host serves to the page, which the page's playback states grant; null: the host
    // serves none.
    virtual std::shared_ptr<utils::LocalCoverGrant> LocalCovers() const { return nullptr; }
};

}  // namespace velmora
