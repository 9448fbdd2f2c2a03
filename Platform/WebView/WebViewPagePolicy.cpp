#include "Platform/WebView/WebViewPagePolicy.h"

#include <exception>

#include <QDebug>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineNavigationRequest>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/WebView/WebContentOrigin.h"

namespace platform {

WebViewPagePolicy::WebViewPagePolicy(std::shared_ptr<const ExtraCertificateAuthority> authority,
                                     QObject* parent)
    : QObject(parent), authority_(std::move(authority)) {}

void WebViewPagePolicy::Attach(QObject* view) {
    // The view's class is private to QtWebEngine, so its signals are reached by name. A direct connection
    // matters: each request must be answered before the signal returns, or the view applies its default.
    const bool connected =
        connect(view, SIGNAL(navigationRequested(QWebEngineNavigationRequest*)), this,
                SLOT(OnNavigationRequested(QWebEngineNavigationRequest*)), Qt::DirectConnection) &&
        connect(view, SIGNAL(certificateError(QWebEngineCertificateError)), this,
                SLOT(OnCertificateError(QWebEngineCertificateError)), Qt::DirectConnection) &&
        connect(view, SIGNAL(contextMenuRequested(QWebEngineContextMenuRequest*)), this,
                SLOT(OnContextMenuRequested(QWebEngineContextMenuRequest*)), Qt::DirectConnection) &&
        connect(view, SIGNAL(pageRestarted()), this, SLOT(OnPageRestarted()), Qt::DirectConnection);
    if (!connected) throw PlatformError(E_NOINTERFACE, "WebViewPagePolicy: the view lacks a policy signal");
}

void WebViewPagePolicy::SetPageRestarted(std::function<void()> handler) {
    pageRestarted_ = std::move(handler);
}

bool WebViewPagePolicy::AllowsNavigation(const QUrl& url) {
    return WebContentOrigin::Contains(url);
}

bool WebViewPagePolicy::AcceptsCertificateError(const QWebEngineCertificateError& error) const {
    // Any other error (expired, wrong name, revoked, weak) means a certificate our CA would not vouch for.
    return authority_ && error.type() == QWebEngineCertificateError::CertificateAuthorityInvalid &&
           authority_->Vouches(error.certificateChain(), error.url().host());
}

void WebViewPagePolicy::OnNavigationRequested(QWebEngineNavigationRequest* request) {
    if (AllowsNavigation(request->url())) return;
    qWarning().noquote() << "WebView: refused navigation to" << request->url().toString();
    request->reject();
}

void WebViewPagePolicy::OnCertificateError(const QWebEngineCertificateError& error) {
    QWebEngineCertificateError answer = error;  // copies share the pending answer
    if (AcceptsCertificateError(error)) {
        answer.acceptCertificate();
    } else {
        qWarning().noquote() << "WebView: refused certificate of" << error.url().host() << "-"
                             << error.description();
        answer.rejectCertificate();
    }
}

void WebViewPagePolicy::SetContextMenuRequested(std::function<void(QPoint position)> handler) {
    contextMenuRequested_ = std::move(handler);
}

void WebViewPagePolicy::OnContextMenuRequested(QWebEngineContextMenuRequest* request) {
    request->setAccepted(true);
    if (!contextMenuRequested_) return;
    // What the owner shows may take the pointer and the focus, which the view is still handling.
    QMetaObject::invokeMethod(
        this,
        [this, position = request->position()] {
            try {
                if (contextMenuRequested_) contextMenuRequested_(position);
            } catch (const std::exception& error) {
                qWarning().noquote() << "WebView: the context menu request failed:" << error.what();
            }
        },
        Qt::QueuedConnection);
}

void WebViewPagePolicy::OnPageRestarted() {
    qWarning().noquote() << "WebView: the page's renderer ended; loading the page anew";
    // Nothing may leave a slot that Qt calls.
    try {
        if (pageRestarted_) pageRestarted_();
    } catch (const std::exception& error) {
        qWarning().noquote() << "WebView: the page's restart failed:" << error.what();
    }
}

}  // namespace platform
