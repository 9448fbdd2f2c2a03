#include "Platform/GameBar/GameBarHost.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <exception>

#include "Platform/GameBar/ActivationService.h"
#include "Platform/GameBar/GameBarHostControls.h"
#include "Platform/GameBar/GameBarWidgetActivatedEventArgs.h"
#include "Platform/GameBar/GlobalShortcut.h"
#include "Platform/Ui/Application.h"
#include "Platform/Ui/LaunchActivatedEventArgs.h"
#include "Platform/Ui/UiDispatcher.h"
#include "Platform/Ui/Window.h"

namespace platform {

namespace {

// A D-Bus-activated host that nobody activates (the caller gave up) does not linger.
constexpr int kServiceWaitMs = 30000;
constexpr int kHandOverTimeoutMs = 10000;
constexpr int kHandOverAttempts = 3;

std::string Describe(const std::exception_ptr& failure) {
    if (!failure) return {};
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an unknown error";
    }
}

enum class HandOver { Delivered, Refused, Gone };

// Sends the request to the instance that owns the bus name. Gone means it left before answering (it was
// ending as we called), so the caller may take the name itself.
HandOver HandOverTo(QDBusConnection& bus, const GameBarHostOptions& options) {
    auto call = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(ActivationService::kBusName, ActivationService::kObjectPath,
                                           ActivationService::kInterface, method);
        message.setArguments(arguments);
        QDBusMessage reply = bus.call(message, QDBus::Block, kHandOverTimeoutMs);
        if (reply.type() != QDBusMessage::ErrorMessage) return HandOver::Delivered;
        const QString name = reply.errorName();
        if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
            name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
            name == QLatin1String("org.freedesktop.DBus.Error.Disconnected")) {
            return HandOver::Gone;
        }
        std::fprintf(stderr, "velmora: the running instance refused %s: %s\n", qPrintable(method),
                     qPrintable(reply.errorMessage()));
        return HandOver::Refused;
    };
    auto action = [&](const char* name, const QVariant& value) {
        QVariantList parameter;
        if (value.isValid()) parameter.append(value);
        return call(QStringLiteral("ActivateAction"),
                    {QString::fromLatin1(name), QVariant::fromValue(parameter), QVariantMap()});
    };
    HandOver result = HandOver::Delivered;
    if (options.toggle) return action("toggle", QVariant());
    if (options.pinnedOnly) result = action("pinned-only", QVariant(*options.pinnedOnly));
    if (result == HandOver::Delivered && options.opacity)
        result = action("opacity", QVariant(*options.opacity));
    if (result != HandOver::Delivered) return result;
    // A hidden start (the autostart) finds the widget already there: nothing to show.
    if (options.hidden) return HandOver::Delivered;
    if (options.uri) {
        return call(QStringLiteral("Open"),
                    {QStringList{QString::fromStdString(*options.uri)}, QVariantMap()});
    }
    return call(QStringLiteral("Activate"), {QVariantMap()});
}

// SIGTERM and SIGINT close the widget window as its close button would, so the page shuts down.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

void CloseOnSignals(GameBarHost& host, QObject* owner) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [&host] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        host.EndSession();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

GameBarHost::GameBarHost(std::shared_ptr<Application> application,
                         std::shared_ptr<GameBarHostControls> controls)
    : application_(std::move(application)),
      controls_(controls ? std::move(controls) : std::make_shared<GameBarHostControls>()) {}

GameBarHost::~GameBarHost() = default;

std::unique_ptr<IActivatedEventArgs> GameBarHost::ActivationFor(
    const std::string& uri, bool widgetWindowShown, std::shared_ptr<GameBarHostControls> controls) {
    auto scheme = ProtocolActivatedEventArgs::SchemeOf(uri);
    if (!scheme) return nullptr;
    if (*scheme == kWidgetScheme) {
        return std::make_unique<GameBarWidgetActivatedEventArgs>(uri, *scheme, !widgetWindowShown,
                                                                 std::move(controls));
    }
    return std::make_unique<ProtocolActivatedEventArgs>(uri, *scheme);
}

std::string GameBarHost::ActivateUri(const std::string& uri) {
    auto args = ActivationFor(uri, ShowsWidgetWindow(), controls_);
    if (!args) return "not an absolute URI: " + uri;
    std::string text = Describe(Application::Activate(*application_, *args));
    // A widget URI for a hidden widget window brings it back (the re-activation itself changes nothing).
    if (args->Kind() == ActivationKind::Protocol &&
        ProtocolActivatedEventArgs::SchemeOf(uri) == kWidgetScheme && !startHidden_) {
        if (auto window = Window::Open(); window && window->IsHidden()) window->Show();
    }
    AfterActivation(text);
    return text;
}

std::string GameBarHost::ToggleWidgetWindow() {
    if (auto window = Window::Open()) {
        if (window->IsHidden()) {
            window->Show();
        } else {
            window->Hide();
        }
        return {};
    }
    return ActivateUri(std::string(kWidgetScheme) + ":launch");
}

std::string GameBarHost::ActivateLaunch() {
    std::string text = Describe(Application::Activate(*application_, LaunchActivatedEventArgs()));
    AfterActivation(text);
    return text;
}

void GameBarHost::AfterActivation(const std::string& failure) {
    if (!failure.empty()) {
        std::fprintf(stderr, "velmora: activation failed: %s\n", failure.c_str());
        exitStatus_ = 1;
    }
    EndWhenIdle();
}

void GameBarHost::EndWhenIdle() {
    if (!onIdle_) return;
    // After the current event (a bus call's reply goes out first).
    QTimer::singleShot(0, QCoreApplication::instance(), [this] {
        if (onIdle_ && !ShowsWidgetWindow()) onIdle_();
    });
}

void GameBarHost::SetPinnedOnly(std::optional<bool> pinnedOnly) {
    bool pinned = pinnedOnly.value_or(controls_->DisplayMode() != GameBarDisplayMode::PinnedOnly);
    controls_->DisplayMode(pinned ? GameBarDisplayMode::PinnedOnly : GameBarDisplayMode::Foreground);
}

bool GameBarHost::SetOpacity(double opacity) {
    return controls_->RequestedOpacity(opacity);
}

void GameBarHost::CloseWidgetWindow() {
    if (auto window = Window::Open()) window->Close();
}

bool GameBarHost::ShowsWidgetWindow() const {
    return Window::Open() != nullptr;
}

void GameBarHost::EndSession() {
    if (ShowsWidgetWindow()) {
        CloseWidgetWindow();
    } else {
        QCoreApplication::exit(exitStatus_);
    }
}

int GameBarHost::Run(const GameBarHostOptions& options,
                     const std::function<std::shared_ptr<Application>()>& createApplication) {
    auto dispatcher = UiDispatcher::Create();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    int status = 0;
    {
        GameBarHost host(createApplication());
        if (options.pinnedOnly) host.SetPinnedOnly(*options.pinnedOnly);
        if (options.opacity && !host.SetOpacity(*options.opacity)) {
            std::fprintf(stderr, "velmora: the opacity must be from 0.1 to 1\n");
            return 2;
        }

        // Everything is in place before the name is taken: the first call may arrive at once.
        ActivationService service(host);
        QDBusConnection bus = QDBusConnection::sessionBus();
        bool ownsName = false;
        if (!bus.isConnected()) {
            std::fprintf(stderr, "velmora: no session bus (%s); another start cannot reach this one\n",
                         qPrintable(bus.lastError().message()));
        } else {
            bus.registerObject(ActivationService::kObjectPath, &service,
                               QDBusConnection::ExportScriptableSlots);
            bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                        QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                        &service, SLOT(OnBusDisconnected()));
            for (int attempt = 0; attempt < kHandOverAttempts && !ownsName; ++attempt) {
                if (bus.registerService(ActivationService::kBusName)) {
                    ownsName = true;
                    break;
                }
                if (options.service) return 0;  // activated twice: the other instance serves
                HandOver result = HandOverTo(bus, options);
                if (result == HandOver::Delivered) return 0;
                if (result == HandOver::Refused) return 1;
            }
            if (!ownsName) {
                std::fprintf(stderr,
                             "velmora: could neither reach the running instance nor take its place\n");
                return 1;
            }
        }

        // From here on a termination request closes the window as its close button would.
        QObject lifetime;
        CloseOnSignals(host, &lifetime);

        // The global shortcut (X11) belongs to the one instance; a key it cannot have is said once and
        // leaves the commands working.
        GlobalShortcut shortcut(host.controls_, [&host] { host.ToggleWidgetWindow(); });

        if (options.hidden) {
            // Opened hidden: the window is made with its page (which signs in), not shown.
            Window::Current()->Hide();
            host.startHidden_ = true;
        }
        if (options.toggle && !options.uri) {
            host.ToggleWidgetWindow();
        } else if (options.uri) {
            host.ActivateUri(*options.uri);
        } else if (!options.service) {
            host.ActivateLaunch();
        }
        host.startHidden_ = false;
        if (!options.service && !host.ShowsWidgetWindow()) {
            if (host.exitStatus_ == 0) {
                std::fprintf(stderr,
                             "velmora: no widget to show; start it with a widget URI: velmora "
                             "ms-gamebarwidget:launch\n");
            }
            status = host.exitStatus_;
        } else {
            host.onIdle_ = [&] {
                // Give up the name first, so a start from now on becomes the new host rather than
                // handing its request to one that is ending.
                if (ownsName) bus.unregisterService(ActivationService::kBusName);
                ownsName = false;
                QCoreApplication::exit(host.exitStatus_);
            };
            Window::AfterClosed([&host](bool handlerFailed) {
                if (handlerFailed) host.exitStatus_ = 1;
                host.EndWhenIdle();
            });
            if (!host.ShowsWidgetWindow())
                QTimer::singleShot(kServiceWaitMs, &lifetime, [&host] { host.EndWhenIdle(); });
            status = QCoreApplication::exec();
            Window::AfterClosed(nullptr);
            host.onIdle_ = nullptr;
        }
        if (ownsName) bus.unregisterService(ActivationService::kBusName);
        bus.unregisterObject(ActivationService::kObjectPath);
        // The application lets go of its page first, then the windows take their frames and pages along,
        // all while the Qt application object still exists.
        host.application_.reset();
        Window::ReleaseAll();
    }
    dispatcher->Shutdown();
    return status;
}

}  // namespace platform
