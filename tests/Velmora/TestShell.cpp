// velmora with test pages under both page types, for the tests and benchmarks that run the real process:
// each page reports what happens to it on standard output (tests/support/TestPage.h).
//   VELMORA_TEST_PAGE_LABEL     a text the pages show (none: an empty item, the lightest page)
//   VELMORA_TEST_SHELL_MODULE   take the web-view page from this front-end module instead
#include <cstdio>
#include <cstdlib>

#include "Velmora/FrontEnd.h"
#include "Velmora/PageTypes.h"
#include "Velmora/RunVelmora.h"
#include "tests/support/TestPage.h"

int main(int argc, char** argv) {
    auto report = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    const char* labelSetting = std::getenv("VELMORA_TEST_PAGE_LABEL");
    std::string label = labelSetting ? labelSetting : "";
    std::vector<velmora::FrontEnd> builtIn{
        {velmora::kNativePageType,
         testsupport::TestPage::Factory(velmora::kNativePageType, label, report),
         {}}};
    std::vector<velmora::FrontEndModule> modules;
    if (const char* module = std::getenv("VELMORA_TEST_SHELL_MODULE")) {
        modules.push_back({velmora::kWebViewPageType, module});
    } else {
        builtIn.push_back({velmora::kWebViewPageType,
                           testsupport::TestPage::Factory(velmora::kWebViewPageType, label, report),
                           {}});
    }
    return velmora::RunVelmora(argc, argv, std::move(builtIn), modules);
}
