// The echo page in the real web view, driven over the DevTools protocol: texts go both ways through
// window.chrome.webview exactly as the packaged page uses it.
//
//   node echo.e2e.mjs PATH_TO_ECHO_HOST
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';
import { freePort, until } from './harness.mjs';

const here = dirname(fileURLToPath(import.meta.url));

const home = mkdtempSync(join(tmpdir(), 'velmora-e2e-'));
const port = await freePort();
const host = spawn(process.argv[2], [], {
    env: {
        ...process.env,
        HOME: home,
        XDG_DATA_HOME: join(home, 'data'),
        XDG_CACHE_HOME: join(home, 'cache'),
        QT_QPA_PLATFORM: process.env.QT_QPA_PLATFORM || 'offscreen',
        VELMORA_INSTALLED_LOCATION: join(here, 'echo'),
        QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${port}`,
    },
    stdio: ['pipe', 'pipe', 'inherit'],
});
const received = [];
createInterface({ input: host.stdout }).on('line', (line) => received.push(JSON.parse(line).received));
let exited = false;
host.on('exit', () => { exited = true; });

let browser;
try {
    const endpoint = `http://127.0.0.1:${port}`;
    await until(() => fetch(`${endpoint}/json/version`).then((r) => r.ok, () => exited && Promise.reject(new Error('echo_host exited'))),
                'the DevTools endpoint');
    browser = await chromium.connectOverCDP(endpoint, { noDefaults: true });
    const page = await until(() => browser.contexts().flatMap((c) => c.pages())
        .find((p) => p.url() === 'velmora-app://widget.invalid/index.html'), 'the echo page');
    await until(() => received.includes('hello'), 'the page\'s first message');

    // Page to native: each text arrives whole; the native side answers each one.
    const texts = ['from the page', 'quote " backslash \\ <b>not markup</b>', 'non-BMP \u{1F3B5} and \u20AC', 'x'.repeat(70000)];
    await page.evaluate((texts) => {
        window.answers = [];
        window.chrome.webview.addEventListener('message', (event) => {
            if (typeof event.data === 'string' && event.data.startsWith('native:')) window.answers.push(event.data);
        });
        for (const text of texts) window.chrome.webview.postMessage(text);
    }, texts);
    await until(() => texts.every((t) => received.includes(t)), 'the page\'s texts on the native side');
    assert.deepEqual(received.filter((t) => texts.includes(t)), texts);

    // Native to page: each answer reaches the page's listener as a string in event.data, in order.
    const answers = await until(async () => {
        const a = await page.evaluate(() => window.answers);
        return a.length === texts.length && a;
    }, 'the native answers in the page');
    assert.deepEqual(answers, texts.map((t) => 'native:' + t));

    // Listeners come and go like any EventTarget's; a non-string posted is sent as its text.
    const removed = await page.evaluate(() => new Promise((resolve) => {
        let calls = 0;
        const listener = () => { calls += 1; };
        window.chrome.webview.addEventListener('message', listener);
        window.chrome.webview.removeEventListener('message', listener);
        window.chrome.webview.addEventListener('message', (event) => {
            if (event.data === 'native:42') resolve(calls);
        });
        window.chrome.webview.postMessage(42);
    }));
    assert.equal(removed, 0);

    // The shim adds only window.chrome.webview to the page; the channel's own names stay out of it.
    const globals = await page.evaluate(() => [typeof window.QWebChannel, typeof window.chrome.webview.postMessage]);
    assert.deepEqual(globals, ['undefined', 'function']);
    // A renderer that ends does not leave an empty view: the page is loaded anew and talks again.
    const hellos = () => received.filter((t) => t === 'hello').length;
    const before = hellos();
    const devtools = await page.context().newCDPSession(page);
    devtools.send('Page.crash').catch(() => {});  // answered by the renderer's end, never by a reply
    await until(() => hellos() > before, 'the page loaded anew after its renderer ended');
    console.log('echo.e2e: passed');
} finally {
    if (browser) await browser.close();
    host.stdin.end();
    await until(() => exited, 'echo_host to exit', 10000).catch(() => host.kill('SIGKILL'));
    rmSync(home, { recursive: true, force: true });
}
