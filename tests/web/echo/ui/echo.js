// Echoes every text the native side posts as "echo:" + text. Texts starting with "test:" ask the page to
// try something instead and report what happened; tests use them to see what the host lets a page do.
'use strict';

const webview = window.chrome.webview;
const reply = (text) => webview.postMessage(text);

function tryFetch(url) {
    const request = new XMLHttpRequest();
    request.open('GET', url);
    request.onload = () => reply('fetch:' + request.status + ':' + url);
    request.onerror = () => reply('fetch:failed:' + url);
    request.send();
}

function tryImage(url) {
    const image = new Image();
    image.onload = () => reply('image:loaded:' + url);
    image.onerror = () => reply('image:failed:' + url);
    image.src = url;
}

const tests = {
    fetch: tryFetch,
    image: tryImage,
    navigate: (url) => { window.location.href = url; },
    open: (url) => reply('open:' + (window.open(url) === null ? 'refused' : 'opened')),
    download: () => document.getElementById('download').click(),
    active: () => reply('active:' + (document.hasFocus() ? document.activeElement.id || document.activeElement.tagName : 'none')),
    dpr: () => reply('dpr:' + window.devicePixelRatio),
    location: () => reply('location:' + window.location.href),
    notification: () => Notification.requestPermission().then((answer) => reply('notification:' + answer)),
    geolocation: () => navigator.geolocation.getCurrentPosition(
        () => reply('geolocation:granted'), (error) => reply('geolocation:error ' + error.code)),
    dialog: () => {
        alert('an alert');
        reply('dialog:' + confirm('a question') + ' ' + prompt('a prompt', 'default'));
    },
    'focus-file': () => document.getElementById('file').focus(),
    files: () => reply('files:' + document.getElementById('file').files.length),
    burst: (count) => {
        for (let i = 0; i < Number(count); ++i) reply('burst:' + i);
    },
    store: () => {
        localStorage.setItem('echo', String(Date.now()));
        reply('stored');
    },
    // A frame in an origin of its own tries to read this page's folder and says what it got.
    frame: () => {
        const frame = document.createElement('iframe');
        frame.sandbox = 'allow-scripts';
        frame.src = 'other-origin.html';
        document.body.appendChild(frame);
    },
};

window.addEventListener('message', (event) => {
    if (typeof event.data === 'string') reply('frame:' + event.data);
});

webview.addEventListener('message', (event) => {
    const text = event.data;
    document.title = 'echo ready';
    if (typeof text === 'string' && text.startsWith('test:')) {
        const rest = text.slice(5);
        const colon = rest.indexOf(':');
        const name = colon < 0 ? rest : rest.slice(0, colon);
        const argument = colon < 0 ? '' : rest.slice(colon + 1);
        if (tests[name]) tests[name](argument);
        return;
    }
    reply('echo:' + text);
});

reply('hello');
