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
