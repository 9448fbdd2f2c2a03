#include "Velmora/RunVelmora.h"

#include <malloc.h>
#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "Platform/GameBar/GameBarHost.h"
#include "Platform/Ui/PageRegistry.h"
#include "Velmora/App.h"
#include "Velmora/Autostart.h"
#include "Velmora/CommandLine.h"
#include "Velmora/FrontEndLoader.h"
#include "Velmora/ModeCheck.h"
#include "VelmoraUtils/CorvanaEndpoints.h"

namespace velmora {

int RunVelmora(int argc, char** argv, std::vector<FrontEnd> frontEnds,
               const std::vector<FrontEndModule>& modules) {
    // Before any thread starts: glibc gives each thread that allocates an arena of its own (a few hundred
    // KiB to MiB each, kept for good). The widget's threads allocate little; two arenas carry them.
    mallopt(M_ARENA_MAX, 2);
    auto parsed = ParseCommandLine(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    if (auto* reason = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "velmora: %s\n%s\n", reason->c_str(), kUsage);
        return 2;
    }
    const CommandLine& line = std::get<CommandLine>(parsed);
    if (line.help) {
        std::printf("%s\n", kUsage);
        return 0;
    }
    if (line.autostart) {
        std::string failure = Autostart::Set(*line.autostart, Autostart::RunningProgram());
        if (!failure.empty()) {
            std::fprintf(stderr, "velmora: %s\n", failure.c_str());
            return 1;
        }
        std::printf(*line.autostart ? "velmora starts hidden at login: %s\n"
                                    : "velmora no longer starts at login (%s removed)\n",
                    Autostart::EntryPath().c_str());
        return 0;
    }

    // A widget talking to a simulator or trusting an extra CA says so before anything else it logs.
    utils::CorvanaEndpoints::ReportOverrides();

    // The front end that will be shown is known before the application object exists, which is the best
    // time to prepare some of them (QtWebEngine); the mode check runs again at activation. A module the
    // mode file does not select now is loaded at the first navigation to its page instead: a process the
    // bus started ahead of its activation (--service) learns the mode only then.
    const std::string chosen = ChosenPageType();
    auto isChosen = [&](const auto& entry) { return entry.typeName == chosen; };
    std::vector<FrontEndModule> deferred;
    for (const auto& module : modules) {
        auto isModule = [&](const FrontEnd& frontEnd) { return frontEnd.typeName == module.typeName; };
        if (std::any_of(frontEnds.begin(), frontEnds.end(), isModule)) continue;
        if (!isChosen(module)) {
            deferred.push_back(module);
        } else if (auto loaded = LoadFrontEndModule(module, FrontEndModuleFolders())) {
            frontEnds.push_back(*loaded);
        }
    }
    for (const auto& frontEnd : frontEnds) {
        if (frontEnd.typeName != chosen || !frontEnd.beforeApplication) continue;
        try {
            frontEnd.beforeApplication();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "velmora: preparing %s failed: %s\n", chosen.c_str(), e.what());
        }
    }

    // A module loaded after the application object exists may render with OpenGL in a context shared
    // with Qt Quick's (QtWebEngine does), and that sharing can only be asked for now.
    if (line.options.service && !deferred.empty()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    // Without a display Qt ends the process with an abort; say what is missing instead.
    auto isSet = [](const char* name) { return std::getenv(name) && *std::getenv(name); };
    if (!isSet("QT_QPA_PLATFORM") && !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "velmora: no display to show the widget on (DISPLAY and WAYLAND_DISPLAY are unset)\n");
        return 1;
    }
    // Wayland lets no client stay above other windows or grab a key: on a Wayland desktop velmora runs
    // through XWayland (the xcb platform), where both hold for ordinary windows.
    if (!isSet("QT_QPA_PLATFORM") && isSet("WAYLAND_DISPLAY") && isSet("DISPLAY")) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    QGuiApplication application(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("velmora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));

    auto pageTypes = std::make_shared<platform::PageRegistry>();
    for (auto& frontEnd : frontEnds) pageTypes->Register(frontEnd.typeName, std::move(frontEnd.createPage));
    for (const auto& module : deferred) pageTypes->Register(module.typeName, LoadingFrontEndModule(module));

    return platform::GameBarHost::Run(line.options, [&] { return std::make_shared<App>(pageTypes); });
}

}  // namespace velmora
