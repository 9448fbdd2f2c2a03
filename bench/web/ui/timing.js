// The page end of the bridge benchmark. Each "playbackState" event is stamped as it reaches this
// handler and answered at once with the command "pausePlayback", stamped as it leaves; "bench:report"
// asks for the stamps. Stamps are wall-clock milliseconds, comparable with the native side's.
'use strict';

const webview = window.chrome.webview;
const now = () => performance.timeOrigin + performance.now();
const received = [];
const sent = [];

webview.addEventListener('message', (event) => {
    const arrived = now();
    if (event.data === 'bench:report') {
        webview.postMessage('bench:times:' + JSON.stringify({ received, sent }));
        received.length = 0;
        sent.length = 0;
        return;
    }
    if (JSON.parse(event.data).type !== 'playbackState') return;
    received.push(arrived);
    sent.push(now());
    webview.postMessage('pausePlayback');
});

webview.postMessage('appReady');
