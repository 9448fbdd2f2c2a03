#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Velmora/FrontEnd.h"

namespace velmora {

// Loads a front-end module and asks it for its front end. The module stays loaded for the life of the
// process. Returns nothing, after one line on standard error, when no folder holds the module, it does not
// load, lacks the entry or offers another page type; the frame then fails to navigate to that page.
std::optional<FrontEnd> LoadFrontEndModule(const FrontEndModule& module,
                                           const std::vector<std::string>& folders);

// A page factory that loads the module at its first use, runs the module's preparation hook then (after the
// application object exists) and makes the module's page; a module that does not load fails that
// navigation, and the next one tries again.
platform::PageFactory LoadingFrontEndModule(FrontEndModule module);

// Where modules are looked for: beside the executable (the build tree), then the installed module folder.
std::vector<std::string> FrontEndModuleFolders();

}  // namespace velmora
