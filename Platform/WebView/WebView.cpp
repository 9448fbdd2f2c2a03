#include "Platform/WebView/WebView.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlWebChannel>
#include <QQuickWindow>
#include <QScreen>
#include <QtWebEngineQuick/QQuickWebEngineProfile>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Ui/FillParent.h"
#include "Platform/Ui/Window.h"
#include "Platform/WebView/WebMessageBridge.h"
#include "Platform/WebView/WebViewPagePolicy.h"

namespace platform {

namespace {

// The view re-reads its scale only when its geometry or its window's position changes. A window taken to a
// screen of another pixel ratio, or a screen whose scale setting changes, changes neither, so the view is
// told as if the window had moved: it then rescales the page in place, without reloading it.
class ScaleFollower : public QObject {
public:
    explicit ScaleFollower(QQuickItem* view) : QObject(view) {
        connect(view, &QQuickItem::windowChanged, this, &ScaleFollower::Follow);
        Follow(view->window());
    }

private:
    void Follow(QQuickWindow* window) {
        QObject::disconnect(screenConnection_);
        QObject::disconnect(dpiConnection_);
        window_ = window;
        if (!window) return;
        screenConnection_ = connect(window, &QWindow::screenChanged, this, [this](QScreen* screen) {
            FollowScreen(screen);
            Rescale();
        });
        FollowScreen(window->screen());
    }

    void FollowScreen(QScreen* screen) {
        QObject::disconnect(dpiConnection_);
        if (screen)
            dpiConnection_ =
                connect(screen, &QScreen::logicalDotsPerInchChanged, this, &ScaleFollower::Rescale);
    }

    void Rescale() {
        if (window_) QMetaObject::invokeMethod(window_, "xChanged", Q_ARG(int, window_->x()));
    }

    QPointer<QQuickWindow> window_;
    QMetaObject::Connection screenConnection_;
    QMetaObject::Connection dpiConnection_;
};

}  // namespace

std::unique_ptr<WebView> WebView::Create(std::shared_ptr<WebViewEnvironment> environment,
                                         QQuickItem* hostItem) {
    if (!environment || !hostItem) throw PlatformError(E_POINTER, "WebView: no environment or host item");
    QQmlEngine* engine = qmlEngine(hostItem);
    if (!engine) throw PlatformError(E_INVALIDARG, "WebView: the host item is not part of a QML scene");

    QQmlComponent component(engine, QUrl(QStringLiteral("qrc:/velmora/webview/ContentWebView.qml")));
    auto* channel = new QQmlWebChannel();
    auto* bridge = new WebMessageBridge(channel);
    channel->registerObject(QStringLiteral("velmoraBridge"), bridge);
    // The profile must be set before the view completes, or it starts in the default profile.
    QObject* object = component.createWithInitialProperties(
        {{QStringLiteral("profile"), QVariant::fromValue(environment->Profile())},
         {QStringLiteral("webChannel"), QVariant::fromValue(channel)}},
        qmlContext(hostItem));
    auto* item = qobject_cast<QQuickItem*>(object);
    if (!item) {
        delete object;
        delete channel;
        throw PlatformError(E_FAIL,
                            "WebView: cannot create the view: " + component.errorString().toStdString());
    }
    QQmlEngine::setObjectOwnership(item, QQmlEngine::CppOwnership);
    channel->setParent(item);
    auto* policy = new WebViewPagePolicy(environment->CertificateAuthority(), item);
    try {
        policy->Attach(item);
    } catch (...) {
        delete item;
        throw;
    }

    // The view's script collection is a private class; its insert() is reached through the meta-object.
    QObject* scripts = item->property("userScripts").value<QObject*>();
    if (!scripts || !QMetaObject::invokeMethod(scripts, "insert",
                                               Q_ARG(QWebEngineScript, WebViewEnvironment::BridgeShim()))) {
        delete item;
        throw PlatformError(E_NOINTERFACE, "WebView: cannot add the bridge shim to the view");
    }
    FillParent(item, hostItem);
    item->setActiveFocusOnTab(true);
    new ScaleFollower(item);

    std::unique_ptr<WebView> view(new WebView());
    view->environment_ = std::move(environment);
    view->item_ = item;
    view->bridge_ = bridge;
    // The page's context menu is the window's: the host's menu, where the host has one.
    policy->SetContextMenuRequested([item = QPointer<QQuickItem>(item)](QPoint position) {
        if (!item) return;
        if (auto window = Window::Of(item->window())) window->OpenDecorationMenu(item->mapToScene(position));
    });
    policy->SetPageRestarted([raw = view.get()] {
        // The policy goes with the view item, which the view deletes first: the view is still there.
        if (raw->pageRestarted_) raw->pageRestarted_();
    });
    return view;
}

WebView::~WebView() {
    delete item_.data();
}

void WebView::Navigate(const QUrl& url) {
    if (item_) item_->setProperty("url", url);
}

void WebView::Reload() {
    if (item_) QMetaObject::invokeMethod(item_, "reload");
}

void WebView::PostWebMessageAsString(const QString& text) {
    if (bridge_) bridge_->Send(text);
}

void WebView::SetWebMessageReceived(MessageHandler handler) {
    if (bridge_) bridge_->SetReceiver(std::move(handler));
}

void WebView::SetPageRestarted(std::function<void()> handler) {
    pageRestarted_ = std::move(handler);
}

QUrl WebView::Url() const {
    return item_ ? item_->property("url").toUrl() : QUrl();
}

}  // namespace platform
