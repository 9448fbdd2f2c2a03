// The web front end the way long use and a hostile page would run it: started by the bus ahead of its
// activation, signed in and out again and again, then flooded with commands from the page. Every wait is
// for a state.
//
//   node longUse.e2e.mjs BUILD_DIR
import assert from 'node:assert/strict';
import { coversInView, startSession, startWidget, until } from './harness.mjs';

const buildDir = process.argv[2];
if (!buildDir) throw new Error('usage: node longUse.e2e.mjs BUILD_DIR');

const step = (name) => console.log(`longUse.e2e: ${name}`);
const session = await startSession(buildDir);
let widget;
try {
    step('started by the bus while the mode file said nothing, it shows the web front end it says at activation, and signs in although the first code was refused');
    // The desktop app refuses the first authorization code (a D-Bus error): the sign-in is tried again.
    await session.control('fail auth_request 1 dbus');
    widget = await startWidget(session, buildDir, { asService: true });
    const { page } = widget;
    const signedInWithFeed = async () => {
        await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
        await until(async () => (await page.locator('.row').count()) === 4, 'the four home rows');
        await coversInView(page);
    };
    await signedInWithFeed();
    assert.equal((await session.counters()).requests.auth_request, 2);
    await widget.process.waitFor(/CorvanaWidgetWebview: OnLoginStateChanged - sign-in failed; trying again in 5 s/);

    step('each sign-in again leaves what one feed needs: no detached rows held');
    const devtools = await page.context().newCDPSession(page);
    const counters = async () => {
        await devtools.send('HeapProfiler.collectGarbage');
        return devtools.send('Memory.getDOMCounters');
    };
    const signInAgain = async () => {
        await session.control('logout');
        await page.locator('#signed-out').waitFor({ state: 'visible' });
        await session.control('login');
        await signedInWithFeed();
    };
    await signInAgain();
    const first = await counters();
    for (let i = 0; i < 4; i += 1) await signInAgain();
    const later = await counters();
    // A feed is some 290 nodes and 70 listeners: what four more sign-ins add must stay below one.
    assert.ok(later.nodes - first.nodes < 60, `nodes ${first.nodes} -> ${later.nodes}`);
    assert.ok(later.jsEventListeners - first.jsEventListeners < 10,
        `listeners ${first.jsEventListeners} -> ${later.jsEventListeners}`);

    step('a flood from the page stays within what a player could press, and the channel stays open');
    const before = await session.counters();
    const linesBefore = widget.process.lines.length;
    // Slow answers to one command, so that a flood which reached the desktop app would pile up on the bus
    // while the sign-in below asks its own questions there.
    await session.control('delay playback_previous 1000 1000');
    // The budgets hold over the time the native side took to handle the flood, which under a sanitizer
    // or a loaded machine is well beyond the time the page took to post it: the window ends when a command
    // posted after the flood reaches the desktop app, since requests leave in the order they were made.
    const floodStart = performance.now();
    await page.evaluate(async () => {
        const commands = ['launchCorvana', 'openCorvana', 'pausePlayback', 'resumePlayback', 'skipNext',
            'skipPrevious', 'setShuffle:true', 'setShuffle:', 'setRepeat:context', 'setRepeat:', 'playContext:',
            'playContext:corvana:album:3FinalStage', 'setVolume:0.5', 'setVolume:2', 'setVolume:', 'requestDevices',
            'requestPlaybackState', 'likeTrack:corvana:track:1', 'unlikeTrack:', 'setWidgetSize:expanded',
            'setExpanded:true', 'seekForward15', 'seekBackward15', 'seekTo:1000', 'seekTo:-1', 'requestHome',
            'bogus', '', 'seekTo:\u0000', 'x'.repeat(70000)];
        const post = (command) => window.chrome.webview.postMessage(command);
        for (let i = 0; i < 1000; i += 1) post('skipPrevious');
        for (let batch = 0; batch < 36; batch += 1) {
            for (let i = 0; i < 250; i += 1) post(commands[Math.floor(Math.random() * commands.length)]);
            await new Promise((resolve) => setTimeout(resolve, 100));
        }
        window.chrome.webview.postMessage('transferPlayback:sim-speaker');
    });
    // The sign-in below runs while the flood may still be draining; the drain is watched meanwhile.
    const drained = until(async () => ((await session.counters()).requests.connect_transfer || 0) === 1,
        'the command posted after the flood', 180000).then(() => (performance.now() - floodStart) / 1000);
    await session.control('logout');
    await page.locator('#signed-out').waitFor({ state: 'visible' });
    await session.control('login');
    await signedInWithFeed();
    const floodSeconds = await drained;

    const after = await session.counters();
    const seconds = Math.ceil(floodSeconds) + 1;
    const reached = (method) => (after.requests[method] || 0) - (before.requests[method] || 0);
    // Each command within its budget, however many kinds end in one desktop method; a sign-in asks for
    // the devices and the playback state itself.
    const kinds = { playback_previous: 1, playback_pause: 1, playback_seek: 3, playback_volume: 1, library_add: 1,
        connect_cluster: 1, playback_state_request: 1 };
    for (const [method, count] of Object.entries(kinds)) {
        assert.ok(reached(method) <= count * 20 * seconds + 4, `${reached(method)} ${method} in ${floodSeconds} s`);
    }
    assert.ok(reached('playback_previous') > 0, 'no skipPrevious reached the desktop app');
    // One a second of each of the two launches.
    assert.ok(widget.launchedUris().length <= 2 * seconds, `${widget.launchedUris().length} launches in ${floodSeconds} s`);
    assert.equal(reached('Open'), 0, 'the widget reopened its desktop channel');
    const lines = widget.process.lines.slice(linesBefore);
    const pageTraffic = lines.filter((line) => line.includes('CorvanaWidgetWebview::HandleWebMessage - '));
    assert.ok(pageTraffic.length > 0 && pageTraffic.length <= seconds, pageTraffic.join('\n'));
    assert.deepEqual(lines.filter((line) => /Reconnecting|subscription failed|GetCurrentUsernameAsync failed/.test(line)), []);
    assert.deepEqual(widget.consoleErrors, []);
    console.log('longUse.e2e: passed');
} finally {
    if (widget) await widget.stop();
    await session.stop();
}
