#include "Velmora/Native/CorvanaWidgetNative.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>

#include "Platform/Foundation/PlatformError.h"
#include "Theme/ThemeModule.h"
#include "Velmora/Common/TokenManagerAccessTokenProvider.h"
#include "Velmora/Native/CoverImageProvider.h"
#include "Velmora/Native/CoverNetworkAccessManagerFactory.h"
#include "Velmora/Native/IconImageProvider.h"
#include "VelmoraUtils/DesktopAPIConnection.h"

// Made by qt_add_qml_module: register the C++ types of the page's module and of the view models' module.
// Called by hand because nothing else references them from a static library, so the linker would leave
// the registrations out.
void qml_register_types_Velmora();
void qml_register_types_Velmora_ViewModels();

namespace velmora {

namespace {

// The engine is the window's and may have served another page before: everything is added once, but
// the covers follow the page now shown.
void PrepareEngine(QQmlEngine& engine, const std::shared_ptr<utils::LocalCoverGrant>& localCovers) {
    static const bool registered =
        (qml_register_types_Velmora_ViewModels(), qml_register_types_Velmora(), true);
    (void)registered;
    // The module's files live in the resources under /Velmora, beside the theme's under /Theme; installing
    // the theme lets the engine look there.
    theme::Install(engine);
    auto& network = CoverNetworkAccessManagerFactory::Instance();
    if (!engine.networkAccessManagerFactory()) engine.setNetworkAccessManagerFactory(&network);
    auto* covers = dynamic_cast<CoverImageProvider*>(
        engine.imageProvider(QLatin1String(CoverImageProvider::kProviderId)));
    if (!covers) {
        covers = new CoverImageProvider();
        engine.addImageProvider(QLatin1String(CoverImageProvider::kProviderId), covers);
    }
    covers->SetLocalCovers(localCovers);
    if (!engine.imageProvider(QLatin1String(IconImageProvider::kProviderId)))
        engine.addImageProvider(QLatin1String(IconImageProvider::kProviderId), new IconImageProvider());
}

}  // namespace

CorvanaWidgetNative::Services CorvanaWidgetNative::Services::Default() {
    Services services;
    services.makeConnection = [] { return std::make_unique<utils::DesktopAPIConnection>(); };
    services.tokenManagerServices = [] { return utils::TokenManagerServices::Default(); };
    services.viewModelServices = [] { return CorvanaWidgetViewModel::Services::Default(); };
    return services;
}

platform::PageFactory CorvanaWidgetNative::Factory(Services services) {
    return [services = std::move(services)](const platform::PageContext& context) {
        auto page = Create(context.engine, context.dispatcher, services);
        page->OnNavigatedTo(context.parameter);
        return std::shared_ptr<platform::Page>(page);
    };
}

std::shared_ptr<CorvanaWidgetNative> CorvanaWidgetNative::Create(
    QQmlEngine& engine, std::shared_ptr<platform::CoreDispatcher> dispatcher, Services services) {
    std::shared_ptr<CorvanaWidgetNative> page(
        new CorvanaWidgetNative(std::move(dispatcher), std::move(services)));
    try {
        page->BuildMarkup(engine);
    } catch (...) {
        page->Shutdown();
        throw;
    }
    auto connecting = page->controller_->ConnectAsync();
    return page;
}

CorvanaWidgetNative::CorvanaWidgetNative(std::shared_ptr<platform::CoreDispatcher> dispatcher,
                                         Services services)
    : services_(std::move(services)) {
    controller_ = utils::DesktopAPIController::Create(services_.makeConnection(), utils::WidgetMode::Native,
                                                      services_.retryPeriod);
    // The token manager exists before the view model it reports to: the verdict goes through a weak
    // reference that the next step fills in.
    auto signedInTarget = std::make_shared<std::weak_ptr<CorvanaWidgetViewModel>>();
    tokenManager_ = utils::TokenManager::Create(
        controller_, std::move(dispatcher),
        utils::TokenManager::SignInStateCallback([signedInTarget](utils::TokenManager::SignInState state) {
            if (auto viewModel = signedInTarget->lock()) viewModel->SetSignInState(state);
        }),
        kClientName, services_.tokenManagerServices());
    auto viewModelServices = services_.viewModelServices();
    viewModelServices.localCovers = localCovers_;
    viewModel_ = CorvanaWidgetViewModel::Create(
        controller_, std::make_shared<TokenManagerAccessTokenProvider>(tokenManager_),
        std::move(viewModelServices));
    *signedInTarget = viewModel_;
}

CorvanaWidgetNative::~CorvanaWidgetNative() {
    Shutdown();
    // The markup goes first: its bindings read the view model until then.
    delete item_.data();
}

void CorvanaWidgetNative::BuildMarkup(QQmlEngine& engine) {
    PrepareEngine(engine, localCovers_);
    QQmlComponent component(&engine, QUrl(QString::fromLatin1(kMarkupUrl)));
    QObject* root =
        component.isReady()
            ? component.createWithInitialProperties({{QStringLiteral("page"), QVariant::fromValue(this)}})
            : nullptr;
    item_ = qobject_cast<QQuickItem*>(root);
    if (!item_) {
        delete root;
        throw platform::PlatformError(
            platform::E_FAIL, "CorvanaWidgetNative: markup failed: " + component.errorString().toStdString());
    }
    QQmlEngine::setObjectOwnership(item_, QQmlEngine::CppOwnership);
}

void CorvanaWidgetNative::OnNavigatedTo(const std::any& parameter) {
    const auto* widget = std::any_cast<std::shared_ptr<platform::IGameBarWidget>>(&parameter);
    widget_ = widget ? *widget : nullptr;
    viewModel_->RegisterForWidgetEvents(widget_);
}

void CorvanaWidgetNative::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (tokenManager_) {
        tokenManager_->Stop();
        tokenManager_.reset();
    }
    if (viewModel_) viewModel_->MarkClosing();
}

void CorvanaWidgetNative::OnCoverSizeChanged(double height) {
    if (height > 0) viewModel_->SetCurrentlyPlayingTrackImageDecodeHeight(static_cast<int>(height));
}

void CorvanaWidgetNative::ScrollFeedToTop() {
    if (!item_ || !viewModel_->IsExpanded()) return;
    auto* viewer = item_->findChild<QObject*>(QLatin1String(kFeedScrollViewerName));
    if (!viewer) return;
    // The horizontal offset and the zoom stay as they are.
    QMetaObject::invokeMethod(viewer, "positionViewAtBeginning");
}

}  // namespace velmora
