#pragma once

#include <vector>

#include "Velmora/FrontEnd.h"

namespace velmora {

// The process entry of velmora (and of test builds of it with test pages): parses the command line, runs
// the selected front end's pre-application hook, makes the Qt application object and the App, and runs
// the widget host until the widget window closes. Returns the exit status: 0, 1 on a failed activation
// or hand-over, 2 on a usage error.
int RunVelmora(int argc, char** argv, std::vector<FrontEnd> builtIn,
               const std::vector<FrontEndModule>& modules);

}  // namespace velmora
