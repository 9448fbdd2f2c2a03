#include "Velmora/FrontEnd.h"
#include "Velmora/Native/CorvanaWidgetNative.h"
#include "Velmora/PageTypes.h"

namespace velmora {

// Each front end adds its entry here: {page type name, factory, hook to run before the application object}.
std::vector<FrontEnd> BuiltInFrontEnds() {
    return {{kNativePageType, CorvanaWidgetNative::Factory(), {}}};
}

std::vector<FrontEndModule> FrontEndModules() {
    return {{kWebViewPageType, "libvelmora-webview.so"}};
}

}  // namespace velmora
