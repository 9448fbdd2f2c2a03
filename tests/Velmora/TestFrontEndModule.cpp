// A front-end module for the tests of module loading: it offers the web-view page type, says on standard
// output whether its pre-application hook ran before the application object existed, and shows the
// shell's test page. It brings the page's code along, so that it loads into the installed velmora too.
#include <QCoreApplication>
#include <cstdio>

#include "Velmora/FrontEnd.h"
#include "Velmora/PageTypes.h"
#include "tests/support/TestPage.h"

extern "C" void VelmoraFrontEndModule(velmora::FrontEnd& frontEnd) {
    auto report = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    frontEnd.typeName = velmora::kWebViewPageType;
    frontEnd.beforeApplication = [report] {
        report(std::string("MODULE_HOOK application=") + (QCoreApplication::instance() ? "1" : "0"));
    };
    frontEnd.createPage = testsupport::TestPage::Factory(velmora::kWebViewPageType, "module page", report);
}
