#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <any>
#include <functional>
#include <memory>

#include "Platform/GameBar/IGameBarWidget.h"
#include "Platform/Threading/CoreDispatcher.h"
#include "Platform/Ui/Page.h"
#include "Velmora/Native/ViewModels/CorvanaWidgetViewModel.h"
#include "VelmoraUtils/DesktopAPIController.h"
#include "VelmoraUtils/IDesktopAPIConnection.h"
#include "VelmoraUtils/TokenManager.h"

class QQmlEngine;

namespace velmora {

// The native widget page: it owns the desktop link, the token manager and the widget view model, and its
// markup (WidgetPage.qml) binds to the view model, which it sees as the page's property
// CorvanaWidgetViewModel. UI thread only; made by the frame for the runtime type
// "Velmora.CorvanaWidgetNative" (Factory()).
class CorvanaWidgetNative : public QObject,
                            public platform::Page,
                            public std::enable_shared_from_this<CorvanaWidgetNative> {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The frame makes the page.")
    Q_PROPERTY(velmora::CorvanaWidgetViewModel* CorvanaWidgetViewModel READ ViewModelObject CONSTANT)

public:
    static constexpr const char* kClientName = "CorvanaWidgetNative";
    static constexpr const char* kMarkupUrl = "qrc:/Velmora/WidgetPage.qml";
    // The object name of the feed's scroll viewer in the markup.
    static constexpr const char* kFeedScrollViewerName = "FeedScrollViewer";

    // What the page reaches the outside world through; tests put fakes here.
    struct Services {
        std::function<std::unique_ptr<utils::IDesktopAPIConnection>()> makeConnection;
        std::function<utils::TokenManagerServices()> tokenManagerServices;
        std::function<CorvanaWidgetViewModel::Services()> viewModelServices;
        // How often the controller retries while the desktop app is away; also the longest the page's
        // teardown waits for a retry to notice.
        std::chrono::nanoseconds retryPeriod = utils::DesktopAPIController::kRetryPeriod;

        static Services Default();
    };

    // Builds the page in this order: the desktop connection and controller, the token manager (its
    // sign-in verdict goes to the view model), the view model, the markup (with `engine`), then starts
    // connecting to the desktop app. `dispatcher` is the UI thread's. Throws when the markup cannot be
    // built, after releasing what it started.
    static std::shared_ptr<CorvanaWidgetNative> Create(QQmlEngine& engine,
                                                       std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                                       Services services = Services::Default());
    ~CorvanaWidgetNative() override;

    // What the frame calls to navigate to the page: Create with the frame's engine and dispatcher, then
    // OnNavigatedTo with the parameter.
    static platform::PageFactory Factory(Services services = Services::Default());

    // The navigation parameter: the Game Bar widget as a std::shared_ptr<platform::IGameBarWidget>.
    // Anything else leaves the view model unregistered, and the spinner up.
    void OnNavigatedTo(const std::any& parameter);

    // The markup's root item, owned by the page.
    QQuickItem* Item() const override { return item_; }
    // The widget window is closing: stops and releases the token manager, then marks the view model as
    // closing, so that no later sign-in loads the feed. Once only; later calls do nothing.
    void Shutdown() override;

    const std::shared_ptr<CorvanaWidgetViewModel>& ViewModel() const { return viewModel_; }
    CorvanaWidgetViewModel* ViewModelObject() const { return viewModel_.get(); }
    const std::shared_ptr<utils::DesktopAPIController>& Controller() const { return controller_; }

    // Handlers the markup wires. The now-playing cover's height, whenever it changes: covers are decoded
    // at that height from then on.
    Q_INVOKABLE void OnCoverSizeChanged(double height);
    // Scrolls the feed back to its top when the widget is expanded; does nothing while collapsed.
    Q_INVOKABLE void ScrollFeedToTop();

private:
    CorvanaWidgetNative(std::shared_ptr<platform::CoreDispatcher> dispatcher, Services services);
    void BuildMarkup(QQmlEngine& engine);

    const Services services_;
    // The local cover the view model's playback state names, which the cover loader may read.
    const std::shared_ptr<utils::LocalCoverGrant> localCovers_ = std::make_shared<utils::LocalCoverGrant>();
    std::shared_ptr<utils::DesktopAPIController> controller_;
    std::shared_ptr<utils::TokenManager> tokenManager_;
    std::shared_ptr<CorvanaWidgetViewModel> viewModel_;
    std::shared_ptr<platform::IGameBarWidget> widget_;
    QPointer<QQuickItem> item_;
    bool shutDown_ = false;
};

}  // namespace velmora
