// The web view host with the echo page, as a program for the DevTools-driven tests: it answers every
// text the page posts (except the page's own echoes) with "native:" + text, and prints each text it
// received as one JSON line ("received" ...) on standard output. It runs until its standard input closes.
//
//   VELMORA_INSTALLED_LOCATION=tests/web/echo QTWEBENGINE_REMOTE_DEBUGGING=127.0.0.1:PORT echo_host
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include <QGuiApplication>
#include <QSocketNotifier>

#include <nlohmann/json.hpp>

#include "Platform/Ui/UiDispatcher.h"
#include "Platform/WebView/WebViewRuntime.h"
#include "Velmora/WebView/WebView2Host.h"
#include "tests/support/EventLoopWait.h"
#include "tests/support/HostWindow.h"

int main(int argc, char** argv) {
    platform::WebViewRuntime::InitializeBeforeApplication();
    QGuiApplication application(argc, argv);

    QSocketNotifier input(fileno(stdin), QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        if (read(fileno(stdin), buffer, sizeof buffer) <= 0) QCoreApplication::quit();
    });

    testsupport::HostWindow window;
    auto dispatcher = platform::UiDispatcher::Create();
    velmora::WebView2Host host;
    try {
        host.Initialize(
                window.Find("host"), dispatcher,
                [&host](std::string message) {
                    std::cout << nlohmann::json({{"received", message}})
                                     .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                              << std::endl;
                    if (!message.starts_with("echo:")) {
                        host.WebView()->PostWebMessageAsString(QString::fromStdString("native:" + message));
                    }
                })
            .Get();
    } catch (const std::exception& error) {
        std::cerr << "echo_host: " << error.what() << std::endl;
        return 1;
    }
    return application.exec();
}
