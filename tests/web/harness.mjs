// The web front end end to end, for the tests and benchmarks that drive it over the DevTools protocol: a
// private session bus with an unlocked keyring, corvana-sim on it, and velmora showing the web front end,
// each in a throwaway HOME, all stopped again by stop(). Playwright reaches the page through the DevTools
// port of velmora's web view.
import { spawn, execFile } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync, existsSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

export const START_URL = 'velmora-app://widget.invalid/index.html';

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls until condition() gives something true, and returns it.
export async function until(condition, what, timeoutMs = 30000) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
        const value = await condition();
        if (value) return value;
        if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
        await sleep(25);
    }
}

export function freePort() {
    return new Promise((resolve, reject) => {
        const server = createServer();
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
        server.on('error', reject);
    });
}

// A child process whose output is kept as lines; waitFor(pattern) resolves with the first line that matches
// (including lines seen before the call).
export function startProcess(program, args, options) {
    const child = spawn(program, args, { ...options, stdio: ['pipe', 'pipe', 'pipe'] });
    const lines = [];
    const waiting = [];
    const take = (stream, name) => createInterface({ input: stream }).on('line', (line) => {
        lines.push(line);
        if (process.env.VELMORA_TEST_VERBOSE) console.error(`[${name}] ${line}`);
        for (const waiter of [...waiting]) {
            if (waiter.pattern.test(line)) {
                waiting.splice(waiting.indexOf(waiter), 1);
                waiter.resolve(line);
            }
        }
    });
    take(child.stdout, `${program.split('/').pop()}`);
    take(child.stderr, `${program.split('/').pop()}!`);
    let exited = false;
    child.on('exit', () => {
        exited = true;
        for (const waiter of waiting.splice(0)) waiter.reject(new Error(`${program} exited`));
    });
    return {
        child,
        lines,
        get exited() { return exited; },
        waitFor(pattern, timeoutMs = 30000) {
            const seen = lines.find((line) => pattern.test(line));
            if (seen) return Promise.resolve(seen);
            if (exited) return Promise.reject(new Error(`${program} exited`));
            return new Promise((resolve, reject) => {
                const waiter = { pattern, resolve, reject };
                waiting.push(waiter);
                setTimeout(() => {
                    if (!waiting.includes(waiter)) return;
                    waiting.splice(waiting.indexOf(waiter), 1);
                    reject(new Error(`timed out waiting for ${pattern} from ${program}`));
                }, timeoutMs);
            });
        },
        async stop(signal = 'SIGTERM') {
            if (exited) return;
            child.kill(signal);
            await until(() => exited, `${program} to exit`, 15000).catch(() => child.kill('SIGKILL'));
        },
    };
}

const BUS_CONFIG = `<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
`;

// Runs a program to its end; resolves with its standard output.
export function run(program, args, env, timeoutMs = 20000) {
    return new Promise((resolve, reject) => {
        execFile(program, args, { env, timeout: timeoutMs }, (error, stdout, stderr) => {
            if (error) reject(new Error(`${program} ${args.join(' ')}: ${error.message}\n${stderr}`));
            else resolve(stdout);
        });
    });
}

// Everything one run needs: a HOME, a session bus with no services to start on demand, an unlocked
// keyring on it, corvana-sim, and the environment that points programs at all of them.
export async function startSession(buildDir) {
    const home = mkdtempSync(join(tmpdir(), 'velmora-web-'));
    const processes = [];
    const stopAll = async () => {
        for (const started of processes.reverse()) await started.stop();
        rmSync(home, { recursive: true, force: true });
    };
    try {
        writeFileSync(join(home, 'bus.conf'), BUS_CONFIG);
        const env = {
            ...process.env,
            HOME: home,
            XDG_DATA_HOME: join(home, 'data'),
            XDG_CACHE_HOME: join(home, 'cache'),
            XDG_CONFIG_HOME: join(home, 'config'),
            XDG_RUNTIME_DIR: home,
        };
        delete env.DBUS_SESSION_BUS_ADDRESS;
        const bus = startProcess('dbus-daemon', [`--config-file=${join(home, 'bus.conf')}`, '--nofork', '--nopidfile',
            '--print-address=1'], { env });
        processes.push(bus);
        env.DBUS_SESSION_BUS_ADDRESS = (await bus.waitFor(/^unix:/)).trim();

        const keyring = startProcess('sh', ['-c', 'printf %s velmora-test-password | exec gnome-keyring-daemon '
            + '--foreground --unlock --components=secrets'], { env });
        processes.push(keyring);
        // Ready once its default collection answers and is unlocked.
        await until(() => run('gdbus', ['call', '--session', '--dest', 'org.freedesktop.secrets', '--object-path',
            '/org/freedesktop/secrets/aliases/default', '--method', 'org.freedesktop.DBus.Properties.Get',
            'org.freedesktop.Secret.Collection', 'Locked'], env, 3000).then((out) => out.includes('false'), () => false),
        'the keyring on the private bus');

        const simulator = startProcess(join(buildDir, 'tools/corvana-sim/corvana-sim'),
            ['--ca-file', join(home, 'ca.pem')], { env });
        processes.push(simulator);
        const origin = (await simulator.waitFor(/^READY /)).slice('READY '.length).trim();
        Object.assign(env, { VELMORA_ACCOUNTS_URL: origin, VELMORA_WEBAPI_URL: origin, VELMORA_CA_FILE: join(home, 'ca.pem') });

        let controlQueue = Promise.resolve();
        // One control command at a time; resolves with its answer line.
        const control = (command) => {
            const answer = controlQueue.then(async () => {
                const word = command.split(' ')[0];
                const before = simulator.lines.length;
                simulator.child.stdin.write(`${command}\n`);
                return until(() => simulator.lines.slice(before).find((line) =>
                    line.startsWith(`OK ${word}`) || line.startsWith('COUNTERS ') || line.startsWith('ERROR')),
                `corvana-sim to answer ${command}`, 10000);
            });
            controlQueue = answer.catch(() => {});
            return answer;
        };
        const ctl = async (...args) => run(join(buildDir, 'Velmora/velmora-ctl'), args, env);

        return {
            home,
            env,
            processes,
            control,
            async counters() {
                return JSON.parse((await control('counters')).slice('COUNTERS '.length));
            },
            // The player as the desktop app sees it, through another client of the channel.
            async status() {
                return JSON.parse(await ctl('status'));
            },
            ctl,
            track(started) { processes.push(started); return started; },
            stop: stopAll,
        };
    } catch (error) {
        await stopAll();
        throw error;
    }
}

// velmora with the web front end: the mode file says "web_view", and the web view listens for DevTools on
// a port of its own. Resolves once Playwright holds the packaged page. With `asService`, velmora starts as
// the bus starts it ahead of an activation (--service) while the mode file says nothing yet; the file
// says "web_view" only before a second start hands it the launch.
export async function startWidget(session, buildDir, { args = [], env = {}, asService = false } = {}) {
    const modeFolder = join(session.env.XDG_DATA_HOME, 'velmora/Corvana/Gamebar');
    mkdirSync(modeFolder, { recursive: true });
    const chooseWebView = () => writeFileSync(join(modeFolder, 'widget_mode.txt'), 'web_view\n');
    if (!asService) chooseWebView();
    const launched = join(session.home, 'launched-uris');
    const launcher = join(session.home, 'launcher.sh');
    writeFileSync(launcher, `#!/bin/sh\nprintf '%s\\n' "$1" >> '${launched}'\n`, { mode: 0o755 });

    const port = await freePort();
    const sanitizer = {};
    if (process.env.ASAN_OPTIONS !== undefined) {
        // An AddressSanitizer build of velmora hosts an uninstrumented QtWebEngine: its sized deletes of
        // Chromium's own objects look mismatched, and its singletons live until exit.
        sanitizer.ASAN_OPTIONS = `${process.env.ASAN_OPTIONS}:new_delete_type_mismatch=0`;
        sanitizer.LSAN_OPTIONS = `suppressions=${new URL('webengine-lsan.supp', import.meta.url).pathname}`;
    }
    const widgetEnv = {
        ...session.env,
        QT_QPA_PLATFORM: process.env.DISPLAY ? (process.env.QT_QPA_PLATFORM || 'xcb') : 'offscreen',
        QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${port}`,
        VELMORA_URI_LAUNCHER: launcher,
        ...sanitizer,
        ...env,
    };
    const program = join(buildDir, 'Velmora/velmora');
    const widget = session.track(startProcess(program, asService ? ['--service'] : [...args, 'ms-gamebarwidget:launch'],
        { env: widgetEnv }));
    if (asService) {
        await until(() => run('gdbus', ['call', '--session', '--dest', 'org.freedesktop.DBus', '--object-path',
            '/org/freedesktop/DBus', '--method', 'org.freedesktop.DBus.NameHasOwner', 'org.velmora.Velmora'],
        session.env, 3000).then((out) => out.includes('true'), () => false), 'velmora --service on the bus', 60000);
        chooseWebView();
        await run(program, [...args, 'ms-gamebarwidget:launch'], widgetEnv);
    }
    const endpoint = `http://127.0.0.1:${port}`;
    await until(() => widget.exited ? Promise.reject(new Error(`velmora exited:\n${widget.lines.join('\n')}`))
        : fetch(`${endpoint}/json/version`).then((r) => r.ok, () => false), 'the DevTools endpoint of velmora', 60000);
    const consoleErrors = [];
    // Playwright's session, opened anew after detach(): a measurement of the widget as a player has it
    // runs with no debugger attached.
    const attach = async () => {
        const { browser, page } = await openPage(endpoint);
        page.on('console', (message) => { if (message.type() === 'error') consoleErrors.push(message.text()); });
        page.on('pageerror', (error) => consoleErrors.push(error.message));
        return { browser, page };
    };
    const handle = {
        process: widget,
        consoleErrors,
        async detach() {
            await handle.browser.close();
        },
        async attach() {
            Object.assign(handle, await attach());
        },
        launchedUris: () => (existsSync(launched) ? readFileSync(launched, 'utf8').split('\n').filter(Boolean) : []),
        async stop() {
            await handle.browser.close().catch(() => {});
            await widget.stop();
        },
    };
    await handle.attach();
    return handle;
}

// Playwright's session with the packaged page behind a DevTools endpoint, once the endpoint answers.
export async function openPage(endpoint, timeoutMs = 60000) {
    await until(() => fetch(`${endpoint}/json/version`).then((r) => r.ok, () => false), 'the DevTools endpoint',
        timeoutMs);
    const browser = await chromium.connectOverCDP(endpoint, { noDefaults: true });
    const page = await until(() => browser.contexts().flatMap((c) => c.pages()).find((p) => p.url() === START_URL),
        'the packaged page');
    return { browser, page };
}

// Waits until the page is signed in and shows the title.
export async function showsTitle(page, title) {
    await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
    await until(async () => (await page.locator('#track-title').textContent()) === title, `the title ${title}`);
}

// Waits until every cover in view has loaded (or failed); covers scrolled out of view load lazily.
export function coversInView(page, what = 'the covers in view') {
    return until(() => page.evaluate(() => [...document.images].every((img) => {
        const box = img.getBoundingClientRect();
        const inView = box.width > 0 && box.bottom > 0 && box.right > 0 && box.top < innerHeight && box.left < innerWidth;
        return !img.getAttribute('src') || !inView || img.complete;
    })), what);
}

// Statistics of a list of numbers.
export function percentile(values, fraction) {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.min(sorted.length - 1, Math.floor(sorted.length * fraction))];
}
