// The web front end against corvana-sim, measured end to end, each figure beside the floor the platform
// sets for it (bench/web_floor_page: a bare QtWebEngine page showing a comparable local page, in a window
// like the widget's), the two measured in turns, pair after pair, on the same machine:
//  - memory: PSS of velmora and every web engine process it started, signed in with the feed shown;
//  - idle CPU, playing and paused, with no debugger attached: the time on a CPU of every thread of every
//    process (velmora and its web engine processes; the floor and its own), from each thread's schedstat,
//    as ms a minute; against the floor page updating once a second (playing) or still (paused), and
//    against the native front end (bench/velmora-native-benchshell) in the same turns;
//  - push: from corvana-sim pushing a playback state (stamped as the bus hands it to a monitor) to the
//    page's message handler having updated the DOM (stamped by a listener that runs right after the
//    page's own), p50 and p99; the floor's from C++ emitting a state of the same size to its page having
//    updated the DOM; both stamps are wall-clock milliseconds of this machine;
//  - with --soak-minutes M (or VELMORA_SOAK=1 for 30): the PSS again after M minutes of playback with a
//    push every second, and its growth.
// Each ratio is velmora over its floor: the median of the pairs' ratios, with their spread (min-max).
// Goals: playing within 1.5x the floor and 10x the native front end; paused within 1.5x the floor; push
// p50 within 1.5x the floor, p99 under 16.7 ms; PSS under 200 MB and flat (growth under 2 MB over 30
// minutes).
//
//   node bench/web_widget_bench.mjs [--build build/default] [--pairs 5] [--idle-seconds 20]
//                                   [--pushes 300] [--no-native] [--soak-minutes M]
import { spawn } from 'node:child_process';
import { readFileSync, readdirSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import { coversInView, percentile, run, sleep, startSession, startWidget, until } from '../tests/web/harness.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const option = (name, fallback) => {
    const at = process.argv.indexOf(`--${name}`);
    return at > 0 && process.argv[at + 1] ? process.argv[at + 1] : fallback;
};
const buildDir = resolve(option('build', join(root, 'build/default')));
const pairs = Math.max(1, Number(option('pairs', 5)));
const idleSeconds = Math.max(2, Number(option('idle-seconds', 20)));
const pushes = Math.max(pairs, Number(option('pushes', 300)));
const withNative = !process.argv.includes('--no-native');
const soakMinutes = Number(option('soak-minutes', process.env.VELMORA_SOAK ? 30 : 0));

// A process and every process below it, found through each process's parent in /proc.
function processTree(rootPid) {
    const children = new Map();
    for (const entry of readdirSync('/proc')) {
        if (!/^\d+$/.test(entry)) continue;
        try {
            const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
            const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
            if (!children.has(parent)) children.set(parent, []);
            children.get(parent).push(Number(entry));
        } catch { /* gone meanwhile */ }
    }
    const tree = [rootPid];
    for (let i = 0; i < tree.length; i += 1) tree.push(...(children.get(tree[i]) || []));
    return tree;
}

// PSS in KiB of a process and all it started, by kind (the Chromium --type of each web engine process).
function pssOfTree(rootPid) {
    const tree = processTree(rootPid);
    const byKind = {};
    let total = 0;
    for (const pid of tree) {
        try {
            const pss = Number(/^Pss:\s+(\d+)/m.exec(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8'))[1]);
            const kind = /--type=([a-z-]+)/.exec(readFileSync(`/proc/${pid}/cmdline`, 'utf8').replaceAll('\0', ' '));
            const name = kind ? kind[1] : 'velmora';
            byKind[name] = (byKind[name] || 0) + pss;
            total += pss;
        } catch { /* gone meanwhile */ }
    }
    return { total, byKind, processes: tree.length };
}

const mib = (kib) => (kib / 1024).toFixed(1);

// The nanoseconds each thread of the tree has spent on a CPU (the first field of its schedstat), by
// "pid/tid".
function threadTimes(rootPid) {
    const times = new Map();
    for (const pid of processTree(rootPid)) {
        let tasks;
        try {
            tasks = readdirSync(`/proc/${pid}/task`);
        } catch { continue; }
        for (const tid of tasks) {
            try {
                times.set(`${pid}/${tid}`, Number(readFileSync(`/proc/${pid}/task/${tid}/schedstat`, 'utf8').split(' ')[0]));
            } catch { /* ended meanwhile */ }
        }
    }
    return times;
}

// CPU time of the whole tree over `seconds`, in ms a minute. The threads are read every second, so that
// one that ends meanwhile is counted up to its last reading; one that starts is counted from 0.
async function cpuOfTree(rootPid, seconds) {
    const first = threadTimes(rootPid);
    const last = new Map(first);
    const end = Date.now() + seconds * 1000;
    while (Date.now() < end) {
        await sleep(Math.min(1000, Math.max(0, end - Date.now())));
        for (const [thread, ns] of threadTimes(rootPid)) last.set(thread, ns);
    }
    let ns = 0;
    for (const [thread, value] of last) ns += value - (first.get(thread) || 0);
    return (ns / 1e6) * (60 / seconds);
}

function loadAverage() {
    return readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
}

const median = (values) => percentile(values, 0.5);
// "median (min-max)" of a list, with `digits` decimals.
const spread = (values, digits = 2) => `${median(values).toFixed(digits)} (${Math.min(...values).toFixed(digits)}-`
    + `${Math.max(...values).toFixed(digits)})`;

// The pairs' ratios of project to floor, or, where a floor took under 1 ms a minute (a ratio to nothing
// says nothing), the pairs' differences.
function ratioOf(project, floor) {
    if (floor.some((value) => value < 1)) {
        return `floor under 1 ms a minute, difference ${spread(project.map((value, i) => value - floor[i]), 0)} ms`;
    }
    return `ratio ${spread(project.map((value, i) => value / floor[i]))}`;
}

// A program of the benchmark's own, kept as lines of output like the harness keeps velmora's.
function startHelper(program, args, env) {
    const child = spawn(program, args, { env, stdio: ['pipe', 'pipe', 'ignore'] });
    const lines = [];
    createInterface({ input: child.stdout }).on('line', (line) => lines.push(line));
    let exited = false;
    child.on('exit', () => { exited = true; });
    return {
        child,
        lines,
        send(line) { child.stdin.write(`${line}\n`); },
        waitFor(prefix, what, timeoutMs = 60000) {
            const from = lines.length;
            return until(() => {
                if (exited) throw new Error(`${program} exited`);
                return lines.slice(from).find((line) => line.startsWith(prefix));
            }, what, timeoutMs);
        },
        seen(prefix) { return lines.find((line) => line.startsWith(prefix)); },
        async stop() {
            if (exited) return;
            child.kill('SIGTERM');
            await until(() => exited, `${program} to exit`, 15000).catch(() => child.kill('SIGKILL'));
        },
    };
}

// Every push of the desktop channel as the bus delivers it: the position it carries and when.
function monitorPushes(env) {
    const monitor = spawn('dbus-monitor', ['--session',
        "type='method_call',interface='corvana.partnerApi.Client',member='RequestReceived'"], { env, stdio: ['ignore', 'pipe', 'ignore'] });
    const seen = [];
    let current = null;
    let expectPosition = false;
    createInterface({ input: monitor.stdout }).on('line', (line) => {
        const header = /^method call time=(\d+\.\d+) .*destination=(\S+)/.exec(line);
        if (header) {
            current = { time: Number(header[1]) * 1000, destination: header[2], position: null };
            seen.push(current);
            return;
        }
        if (!current) return;
        if (line.includes('"position_as_of_timestamp"')) expectPosition = true;
        const number = /int32 (-?\d+)/.exec(line);
        if (expectPosition && number) {
            current.position = Number(number[1]);
            expectPosition = false;
        }
    });
    return { seen, stop: () => monitor.kill() };
}

// The desktop app refuses to resume what plays, or to pause what is paused.
async function setPlaying(on, playing) {
    if ((await on.status()).is_paused === playing) await on.ctl(playing ? 'resume' : 'pause');
}

const session = await startSession(buildDir);
let nativeSession;
let widget;
let floor;
let native;
let monitor;
try {
    widget = await startWidget(session, buildDir);
    let { page } = widget;
    await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
    await until(async () => (await page.locator('.row').count()) > 0, 'the feed');
    await coversInView(page);
    // Measured as a player has it: no debugger attached, and settled.
    await widget.detach();
    await sleep(3000);
    const memory = pssOfTree(widget.process.child.pid);
    console.log(`memory: PSS ${mib(memory.total)} MiB over ${memory.processes} processes `
        + `(${Object.entries(memory.byKind).map(([k, v]) => `${k} ${mib(v)}`).join(', ')}) [goal < 200 MiB]`);

    // The floor in a HOME of its own, so that its profile is as fresh as velmora's.
    floor = startHelper(join(buildDir, 'bench/web_floor_page'), [],
        { ...session.env, HOME: join(session.home, 'floor'), QT_QPA_PLATFORM: 'offscreen' });
    await floor.waitFor('READY', 'the floor page');
    // The native front end on a session of its own: one bus holds one widget.
    if (withNative) {
        nativeSession = await startSession(buildDir);
        native = startHelper(join(buildDir, 'bench/velmora-native-benchshell'), ['ms-gamebarwidget:launch'],
            { ...nativeSession.env, QT_QPA_PLATFORM: 'offscreen' });
        await native.waitFor('FEED_FRAME', 'the native front end with its feed');
    }

    // Idle: nobody touches any of them; playing, each moves its progress on, and paused, nothing should run.
    const idle = {};
    for (const mode of ['playing', 'paused']) {
        await setPlaying(session, mode === 'playing');
        if (nativeSession) await setPlaying(nativeSession, mode === 'playing');
        floor.send(mode === 'playing' ? 'play' : 'pause');
        await sleep(3000);
        const turns = { web: [], floor: [], native: [] };
        const loads = [];
        for (let pair = 0; pair < pairs; pair += 1) {
            loads.push(loadAverage().split(' ')[0]);
            turns.web.push(await cpuOfTree(widget.process.child.pid, idleSeconds));
            turns.floor.push(await cpuOfTree(floor.child.pid, idleSeconds));
            if (native) turns.native.push(await cpuOfTree(native.child.pid, idleSeconds));
        }
        idle[mode] = turns;
        let line = `CPU ${mode}, ms a minute over ${pairs} pairs of ${idleSeconds} s (load ${loads.join(' ')}): `
            + `velmora ${spread(turns.web, 0)}, floor ${spread(turns.floor, 0)}; ${ratioOf(turns.web, turns.floor)} [goal < 1.5]`;
        if (native) {
            line += `; native ${spread(turns.native, 0)}, velmora / native: ${ratioOf(turns.web, turns.native)}`
                + (mode === 'playing' ? ' [goal < 10]' : '');
        }
        console.log(line);
    }
    if (native) await native.stop();
    if (nativeSession) await nativeSession.stop();
    native = null;
    nativeSession = null;

    // Pushes, paused: a pushed position is exactly the one sought, which names each push.
    await widget.attach();
    page = widget.page;
    await until(async () => (await page.locator('#play-pause').getAttribute('aria-label')) === 'Play', 'paused');
    await page.evaluate(() => {
        window.benchStamps = [];
        window.chrome.webview.addEventListener('message', (event) => {
            const stamp = performance.timeOrigin + performance.now();
            // The shim made the event as the web channel handed it the text: what follows is the page's.
            const arrived = performance.timeOrigin + event.timeStamp;
            try {
                const data = JSON.parse(event.data);
                if (data.type === 'playbackState') window.benchStamps.push({ stamp, arrived, position: data.position });
            } catch { /* not an event */ }
        });
    });
    await widget.detach();
    // The pushes to velmora, not those to the velmora-ctl that asked for each seek: a bus name is velmora's
    // when the bus says velmora's process owns it.
    const owners = new Map();
    const isVelmora = async (name) => {
        if (!owners.has(name)) {
            const reply = await run('gdbus', ['call', '--session', '--dest', 'org.freedesktop.DBus', '--object-path',
                '/org/freedesktop/DBus', '--method', 'org.freedesktop.DBus.GetConnectionUnixProcessID', name],
            session.env).catch(() => '');
            owners.set(name, Number((/uint32 (\d+)/.exec(reply) || [])[1]) === widget.process.child.pid);
        }
        return owners.get(name);
    };
    monitor = monitorPushes(session.env);
    await sleep(300);
    const perPair = Math.ceil(pushes / pairs);
    const web = [];
    const bare = [];
    const pushRatios = [];
    const toPage = [];
    const pushLoads = [];
    let pushed = 0;
    for (let pair = 0; pair < pairs; pair += 1) {
        pushLoads.push(loadAverage().split(' ')[0]);
        // velmora's turn, with no debugger attached: the page keeps its stamps until the turn is over.
        const sought = [];
        for (let i = 0; i < perPair; i += 1, pushed += 1) {
            // Distinct positions inside the first item (184 s).
            const position = 3000 + (pushed % 150) * 1000 + Math.floor(pushed / 150) + 7;
            await session.ctl('seek', String(position));
            const push = await until(async () => {
                for (const m of monitor.seen) if (m.position === position && await isVelmora(m.destination)) return m;
                return null;
            }, `the push ${pushed} on the bus`, 10000);
            sought.push({ position, time: push.time });
            // The page takes a few ms; the next seek starts well after, as the floor's next push does.
            await sleep(50);
        }
        await widget.attach();
        const stamps = await widget.page.evaluate(() => window.benchStamps.splice(0));
        await widget.detach();
        const turn = [];
        for (const { position, time } of sought) {
            const stamp = stamps.find((s) => s.position === position);
            if (!stamp) throw new Error(`the page never showed the push of position ${position}`);
            turn.push(stamp.stamp - time);
            toPage.push(stamp.arrived - time);
        }
        // The floor's turn.
        floor.send(`pushes ${perPair}`);
        const floorTurn = (await floor.waitFor('PUSHES', 'the floor\'s pushes')).split(' ').slice(1).map(Number);
        web.push(...turn);
        bare.push(...floorTurn);
        pushRatios.push(median(turn) / median(floorTurn));
    }
    console.log(`push to DOM updated over ${web.length} (load ${pushLoads.join(' ')}): `
        + `p50 ${percentile(web, 0.5).toFixed(2)} ms, p99 ${percentile(web, 0.99).toFixed(2)} ms, `
        + `max ${Math.max(...web).toFixed(2)} ms [goal p99 < 16.7 ms] (to the page's 'message' event p50 `
        + `${percentile(toPage, 0.5).toFixed(2)} ms); floor (C++ emit to DOM) `
        + `p50 ${percentile(bare, 0.5).toFixed(2)} ms, p99 ${percentile(bare, 0.99).toFixed(2)} ms; `
        + `ratio of p50s ${spread(pushRatios)} over ${pairs} pairs [goal < 1.5]`);

    if (soakMinutes > 0) {
        await setPlaying(session, true);
        await sleep(3000);
        const start = pssOfTree(widget.process.child.pid).total;
        const end = Date.now() + soakMinutes * 60000;
        let level = 0;
        let samples = 0;
        while (Date.now() < end) {
            level = 1 - level;
            const started = Date.now();
            await session.ctl('volume', level ? '0.55' : '0.45');
            samples += 1;
            if (samples % 300 === 0) console.log(`soak: ${samples} pushes, PSS ${mib(pssOfTree(widget.process.child.pid).total)} MiB`);
            await sleep(Math.max(0, 1000 - (Date.now() - started)));
        }
        const after = pssOfTree(widget.process.child.pid).total;
        console.log(`soak: ${soakMinutes} min, ${samples} pushes: PSS ${mib(start)} -> ${mib(after)} MiB, `
            + `growth ${mib(after - start)} MiB [goal < 2 MiB]`);
    }
    await widget.attach();
    if (widget.consoleErrors.length) console.log(`console errors: ${widget.consoleErrors.join('; ')}`);
} finally {
    if (monitor) monitor.stop();
    if (native) await native.stop();
    if (nativeSession) await nativeSession.stop();
    if (floor) await floor.stop();
    if (widget) await widget.stop();
    await session.stop();
}
