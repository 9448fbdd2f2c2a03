// window.chrome.webview over the Qt web channel, the way the packaged page expects it everywhere:
// postMessage(text) sends one text to the native side, and each text the native side posts arrives as a
// 'message' event whose data is that text. The channel comes up asynchronously, so messages posted before
// it is up are held and sent in order once it is.
(function () {
    'use strict';
    if (window.chrome && window.chrome.webview) return;

    const webview = new EventTarget();
    let bridge = null;
    const held = [];

    webview.postMessage = function (message) {
        const text = String(message);
        if (bridge) {
            bridge.postMessage(text);
        } else {
            held.push(text);
        }
    };

    new QWebChannel(qt.webChannelTransport, function (channel) {
        bridge = channel.objects.velmoraBridge;
        bridge.message.connect(function (text) {
            webview.dispatchEvent(new MessageEvent('message', { data: text }));
        });
        for (const text of held.splice(0)) bridge.postMessage(text);
    });

    window.chrome = window.chrome || {};
    Object.defineProperty(window.chrome, 'webview', { value: webview, enumerable: true });
})();
