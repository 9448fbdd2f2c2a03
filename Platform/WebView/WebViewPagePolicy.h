#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QPoint>
#include <QUrl>
#include <QWebEngineCertificateError>

#include "Platform/WebView/ExtraCertificateAuthority.h"

class QWebEngineContextMenuRequest;
class QWebEngineNavigationRequest;

namespace platform {

// The decisions about one web view that need more than a plain refusal: the page may navigate only
// within the content origin (anything else leaves it as it is), a certificate error is accepted only
// when the extra CA vouches for the chain, and the default context menu (reload, save, view source,
// inspect) never shows: the owner hears of the request instead. It also tells its owner when the view
// loads the page anew after its renderer ended.
class WebViewPagePolicy : public QObject {
    Q_OBJECT

public:
    WebViewPagePolicy(std::shared_ptr<const ExtraCertificateAuthority> authority, QObject* parent = nullptr);

    // Follows the view's navigation, certificate and context-menu signals.
    void Attach(QObject* view);

    // Called on the UI thread before a page whose renderer ended is loaded anew.
    void SetPageRestarted(std::function<void()> handler);
    // Called on the UI thread, after the view's signal has returned, with the position (in the view's
    // coordinates) where the page was asked for a context menu.
    void SetContextMenuRequested(std::function<void(QPoint position)> handler);

    static bool AllowsNavigation(const QUrl& url);
    bool AcceptsCertificateError(const QWebEngineCertificateError& error) const;

private slots:
    void OnNavigationRequested(QWebEngineNavigationRequest* request);
    void OnCertificateError(const QWebEngineCertificateError& error);
    void OnContextMenuRequested(QWebEngineContextMenuRequest* request);
    void OnPageRestarted();

private:
    std::shared_ptr<const ExtraCertificateAuthority> authority_;
    std::function<void()> pageRestarted_;
    std::function<void(QPoint position)> contextMenuRequested_;
};

}  // namespace platform
