// The web front end as a module of velmora, loaded only when the mode file selects it (Velmora/FrontEnd.h).
#include "Platform/WebView/WebViewRuntime.h"
#include "Velmora/FrontEnd.h"
#include "Velmora/PageTypes.h"
#include "Velmora/WebView/CorvanaWidgetWebview.h"

extern "C" __attribute__((visibility("default"))) void VelmoraFrontEndModule(velmora::FrontEnd& frontEnd) {
    frontEnd.typeName = velmora::kWebViewPageType;
    frontEnd.createPage = velmora::CorvanaWidgetWebview::Factory();
    frontEnd.beforeApplication = [] { platform::WebViewRuntime::InitializeBeforeApplication(); };
}
