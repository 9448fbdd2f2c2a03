import QtQuick
import QtWebEngine

// The web view of the packaged page. Whatever a page could use to reach past its folder or its window is
// refused here, so that no default dialog, window or prompt ever appears over the game. Navigation,
// certificate errors and the context menu are decided in C++ (WebViewPagePolicy).
WebEngineView {
    // The host draws the window's rounded, translucent background; an opaque view would square it off.
    backgroundColor: "transparent"
    settings.javascriptCanOpenWindows: false
    settings.javascriptCanAccessClipboard: false
    settings.javascriptCanPaste: false
    settings.allowWindowActivationFromJavaScript: false
    settings.localContentCanAccessFileUrls: false
    settings.localContentCanAccessRemoteUrls: false
    settings.pluginsEnabled: false
    settings.pdfViewerEnabled: false
    settings.screenCaptureEnabled: false
    settings.webRTCPublicInterfacesOnly: true
    settings.allowRunningInsecureContent: false
    settings.dnsPrefetchEnabled: false

    // A renderer that ended (killed for its memory, crashed) leaves the view empty for good, so the page is
    // loaded anew, once per page that loaded: one that ends while loading is not reloaded in a loop. The
    // reload waits for the next turn of the event loop, as the view cannot load from inside the signal.
    signal pageRestarted()
    property bool restartable: false
    onLoadingChanged: loading => {
        if (loading.status === WebEngineView.LoadSucceededStatus) restartable = true
    }
    onRenderProcessTerminated: (terminationStatus, exitCode) => {
        if (!restartable) return
        restartable = false
        pageRestarted()
        restartTimer.start()
    }
    Timer {
        id: restartTimer
        interval: 0
        onTriggered: parent.reload()
    }

    // Creating no window refuses it.
    onNewWindowRequested: request => {}
    onFeaturePermissionRequested: (securityOrigin, feature) => grantFeaturePermission(securityOrigin, feature, false)
    onFileDialogRequested: request => {
        request.accepted = true
        request.dialogReject()
    }
    onFileSystemAccessRequested: request => request.reject()
    onJavaScriptDialogRequested: request => {
        request.accepted = true
        request.dialogReject()
    }
    onColorDialogRequested: request => {
        request.accepted = true
        request.dialogReject()
    }
    onAuthenticationDialogRequested: request => {
        request.accepted = true
        request.dialogReject()
    }
    onFullScreenRequested: request => request.reject()
    onRegisterProtocolHandlerRequested: request => request.reject()
    onSelectClientCertificate: selection => selection.selectNone()
}
