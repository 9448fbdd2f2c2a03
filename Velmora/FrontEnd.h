#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Platform/Ui/Page.h"

namespace velmora {

// One front end of the widget: the page the frame shows for it, and what has to run in main before the
// Qt application object exists (the web front end registers its URL scheme and initialises QtWebEngine
// there). The hook runs only when the mode file selects this front end, so the other one pays nothing; for
// a module the mode file selected only after the process started, it runs at the first navigation to its
// page, once the application object exists, and must cope with that.
struct FrontEnd {
    std::string typeName;  // "Velmora.CorvanaWidgetNative" or "Velmora.CorvanaWidgetWebview"
    platform::PageFactory createPage;
    std::function<void()> beforeApplication;  // may be empty
};

// A front end built as a loadable module (velmora_add_front_end_module in Velmora/CMakeLists.txt), loaded
// only when the mode file selects it, so that its libraries (QtWebEngine: some 20 MB of PSS and 15 ms of
// start-up merely by being linked) stay out of the other front end's process. The module exports
//
//     extern "C" void VelmoraFrontEndModule(velmora::FrontEnd& frontEnd);
//
// which fills in the front end. The module links none of our static libraries: it uses the executable's
// copies (one Logger, one thread pool, one current dispatcher), which the executable exports.
struct FrontEndModule {
    std::string typeName;
    std::string fileName;  // looked for next to the executable, then in the installed module folder
};

inline constexpr const char* kFrontEndModuleEntry = "VelmoraFrontEndModule";
using FrontEndModuleEntry = void (*)(FrontEnd& frontEnd);

// The front ends linked into velmora, and those it loads as modules (Velmora/FrontEnds.cpp).
std::vector<FrontEnd> BuiltInFrontEnds();
std::vector<FrontEndModule> FrontEndModules();

}  // namespace velmora
