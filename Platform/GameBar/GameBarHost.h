#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class Application;
class GameBarHostControls;
class IActivatedEventArgs;

// How the process was asked to start.
struct GameBarHostOptions {
    std::optional<std::string> uri;  // the activation URI, as given
    std::optional<bool> pinnedOnly;  // the host's controls to set first
    std::optional<double> opacity;
    bool service = false;  // started by D-Bus activation: the activation comes over the bus
    // Toggle the widget window: hide a shown one, show a hidden one, open one when there is none.
    bool toggle = false;
    // A new instance opens the widget window hidden (the autostart at login); the shortcut or a toggle
    // shows it. Handed to a running instance, it asks nothing of it.
    bool hidden = false;
};

// The Game Bar's part in running a widget: it turns URIs into activations of the application (a widget
// activation for the widget scheme, a launch when no widget window shows, a re-activation otherwise),
// holds the host's controls, and closes the widget window on request. Run() makes the process the one
// widget host of the session (org.velmora.Velmora on the session bus), or hands the request to the one
// already running. UI thread only.
class GameBarHost {
public:
    static constexpr const char* kWidgetScheme = "ms-gamebarwidget";

    explicit GameBarHost(std::shared_ptr<Application> application,
                         std::shared_ptr<GameBarHostControls> controls = nullptr);
    ~GameBarHost();
    GameBarHost(const GameBarHost&) = delete;
    GameBarHost& operator=(const GameBarHost&) = delete;

    const std::shared_ptr<GameBarHostControls>& Controls() const { return controls_; }

    // The activation the host makes for a URI: widget arguments for the widget scheme (a launch unless a
    // widget window shows), protocol arguments for any other scheme, null for a text that is no URI.
    static std::unique_ptr<IActivatedEventArgs> ActivationFor(const std::string& uri, bool widgetWindowShown,
                                                              std::shared_ptr<GameBarHostControls> controls);

    // Each returns the error the application's hook raised, as text; empty when the hook returned.
    std::string ActivateUri(const std::string& uri);
    std::string ActivateLaunch();

    // Without a value, pinned-only mode toggles.
    void SetPinnedOnly(std::optional<bool> pinnedOnly);
    // False, and nothing changes, outside 0.1 to 1.
    bool SetOpacity(double opacity);
    void CloseWidgetWindow();
    // Hides a shown widget window and shows a hidden one (its page lives on meanwhile); with no widget
    // window, launches the widget. Returns the activation's error as text, empty when there was none.
    std::string ToggleWidgetWindow();
    // True while a widget window is open, shown or hidden.
    bool ShowsWidgetWindow() const;
    // The session is ending (termination signal, the bus gone): close the widget window, or end the event
    // loop if none shows.
    void EndSession();

    // Runs the process as the widget host: applies the options, takes the bus name (or hands the URI and
    // the options to the running instance and returns), makes the application, delivers the activation
    // and runs the event loop until no widget window is left. Needs the QGuiApplication. Returns the exit
    // status: 0, or 1 when an activation or a window-closed handler failed or the hand-over was refused.
    static int Run(const GameBarHostOptions& options,
                   const std::function<std::shared_ptr<Application>()>& createApplication);

private:
    void AfterActivation(const std::string& failure);
    void EndWhenIdle();

    std::shared_ptr<Application> application_;
    std::shared_ptr<GameBarHostControls> controls_;
    // Set by Run: the event loop ends once no widget window shows.
    std::function<void()> onIdle_;
    int exitStatus_ = 0;
    bool startHidden_ = false;  // during a hidden start's activation
};

}  // namespace platform
