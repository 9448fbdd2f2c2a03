// The soak: one front end of the widget against corvana-sim for an hour (or --minutes N), as a long
// session would run it: a push a second (another client of the channel changes the volume, and every
// tenth time skips to the next track), the desktop app leaving the bus and coming back every five
// minutes, and a sign-out and sign-in every ten. Each minute it samples the private memory
// (smaps_rollup: Private_Clean + Private_Dirty) and the CPU time of each process of the widget (velmora
// and, for the web front end, each QtWebEngine process) and of corvana-sim. It prints the growth of each
// process, from the least sample of a window of up to five minutes after the first ten to the least of
// the last such window, and fails when a widget process grew by more than 2 MiB. Before each sample of
// those windows it forces a garbage collection in the web page (DevTools) and lets the widget settle.
//
//   node bench/soak.mjs BUILD_DIR --front-end native|web [--minutes N]
import { readFileSync, readdirSync, mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { startSession, startWidget, startProcess, run, until, sleep } from '../tests/web/harness.mjs';

const argv = process.argv.slice(2);
const option = (name, fallback) => {
    const at = argv.indexOf(`--${name}`);
    return at >= 0 && at + 1 < argv.length ? argv[at + 1] : fallback;
};
const buildDir = argv[0];
const frontEnd = option('front-end', 'native');
const minutes = Number(option('minutes', '60'));
if (!buildDir || buildDir.startsWith('--') || !['native', 'web'].includes(frontEnd) || !(minutes >= 2)) {
    console.error('usage: node bench/soak.mjs BUILD_DIR --front-end native|web [--minutes N (at least 2)]');
    process.exit(2);
}
const LIMIT_KIB = 2048;
// The growth is measured from here on: the first ten minutes (or half of a shorter soak) fill caches.
const baselineMinute = minutes > 10 ? 10 : Math.floor(minutes / 2);
// Memory swings by tens of MiB from one minute to the next (covers decoded, the page's heap), while a leak
// raises the floor: the growth is that of the least sample of each process in a window of up to five
// minutes after the first ten, to the least in the last window of the same length.
const window = Math.max(1, Math.min(5, Math.floor((minutes - baselineMinute) / 2)));
const inBaseline = (minute) => minute >= baselineMinute && minute < baselineMinute + window;
const inEnd = (minute) => minute > minutes - window && minute <= minutes;
const say = (line) => console.log(`soak ${frontEnd}: ${line}`);

const clockTicks = 100;  // USER_HZ on Linux
const pageSize = 4;      // KiB, for /proc/PID/statm's fallback

function readProc(pid, file) {
    try { return readFileSync(`/proc/${pid}/${file}`, 'utf8'); } catch { return null; }
}

function privateKiB(pid) {
    const rollup = readProc(pid, 'smaps_rollup');
    if (rollup === null) return null;
    let total = 0;
    for (const match of rollup.matchAll(/^Private_(?:Clean|Dirty):\s+(\d+) kB$/gm)) total += Number(match[1]);
    return total;
}

function cpuSeconds(pid) {
    const stat = readProc(pid, 'stat');
    if (stat === null) return null;
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    return (Number(fields[11]) + Number(fields[12])) / clockTicks;  // utime + stime
}

// The process and its descendants, each named by what it is ("velmora", "QtWebEngineProcess renderer").
function processTree(rootPid) {
    const children = new Map();
    for (const entry of readdirSync('/proc')) {
        if (!/^\d+$/.test(entry)) continue;
        const stat = readProc(entry, 'stat');
        if (!stat) continue;
        const ppid = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
        if (!children.has(ppid)) children.set(ppid, []);
        children.get(ppid).push(Number(entry));
    }
    const found = [];
    const visit = (pid) => {
        // Chromium's processes rewrite their command line into one text: split on spaces too.
        const cmdline = (readProc(pid, 'cmdline') || '').split(/[\0 ]/).filter(Boolean);
        const program = (cmdline[0] || '?').split('/').pop();
        const type = cmdline.find((arg) => arg.startsWith('--type='));
        found.push({ pid, name: type ? `${program} ${type.slice('--type='.length)}` : program });
        for (const child of children.get(pid) || []) visit(child);
    };
    visit(rootPid);
    return found;
}

const session = await startSession(buildDir);
let widget;
let page;
let exitCode = 0;
try {
    const counters = () => session.counters();
    const feedRequests = async () => (await counters()).feed_requests;
    // Signed in and showing the feed: the web page by its face, the native one by its feed request.
    const signedIn = async (feedsBefore) => {
        await until(async () => (await feedRequests()) > feedsBefore, 'a feed request after the sign-in', 120000);
        if (page) {
            await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
            await until(async () => (await page.locator('.row').count()) === 4, 'the four home rows', 60000);
        }
    };
    const feedsAtStart = await feedRequests();
    if (frontEnd === 'web') {
        widget = await startWidget(session, buildDir);
        page = widget.page;
    } else {
        const launched = join(session.home, 'launched-uris');
        const launcher = join(session.home, 'launcher.sh');
        writeFileSync(launcher, `#!/bin/sh\nprintf '%s\\n' "$1" >> '${launched}'\n`, { mode: 0o755 });
        mkdirSync(join(session.env.XDG_DATA_HOME, 'velmora'), { recursive: true });
        const env = {
            ...session.env,
            QT_QPA_PLATFORM: process.env.DISPLAY ? (process.env.QT_QPA_PLATFORM || 'xcb') : 'offscreen',
            VELMORA_URI_LAUNCHER: launcher,
        };
        widget = { process: session.track(startProcess(join(buildDir, 'Velmora/velmora'), ['ms-gamebarwidget:launch'], { env })) };
    }
    await signedIn(feedsAtStart);
    const rootPid = widget.process.child.pid;
    const simulatorPid = session.processes.find((p) => p.child.spawnargs[0].endsWith('corvana-sim')).child.pid;
    say(`signed in; velmora is pid ${rootPid}; ${minutes} minutes, growth measured from minute ${baselineMinute}`);

    const samples = [];  // { minute, processes: Map(key -> { name, pid, kib, cpu }) }
    const read = () => {
        const processes = new Map();
        for (const { pid, name } of [...processTree(rootPid), { pid: simulatorPid, name: 'corvana-sim' }]) {
            const kib = privateKiB(pid);
            const cpu = cpuSeconds(pid);
            if (kib !== null && cpu !== null) processes.set(`${name} ${pid}`, { name, pid, kib, cpu });
        }
        return processes;
    };
    // The samples the growth is judged by (the two windows) are taken settled: the page's garbage collected, no push for the ten seconds before, and the least of three
    // readings a second apart, so that a burst of work in flight at that moment is not counted as growth.
    const judged = (minute) => inBaseline(minute) || inEnd(minute);
    const settledRead = async () => {
        if (page) {
            const devtools = await page.context().newCDPSession(page);
            await devtools.send('HeapProfiler.collectGarbage');
            await devtools.send('HeapProfiler.collectGarbage');
            await devtools.detach();
        }
        let least = null;
        for (let i = 0; i < 3; i += 1) {
            await sleep(1000);
            const now = read();
            if (!least) { least = now; continue; }
            for (const [key, p] of now) {
                const kept = least.get(key);
                if (kept && p.kib < kept.kib) least.set(key, { ...p, kib: p.kib });
                else if (kept) least.set(key, { ...kept, cpu: p.cpu });
            }
        }
        return least;
    };
    const sample = async (minute) => {
        const processes = judged(minute) ? await settledRead() : read();
        samples.push({ minute, processes });
        const row = [...processes.values()].map((p) => `${p.name}[${p.pid}] ${(p.kib / 1024).toFixed(1)} MiB`);
        say(`minute ${minute}: ${row.join(', ')}`);
    };
    await sample(0);

    let pushes = 0;
    let pushFailures = 0;
    let pushing = 0;
    const push = () => {
        if (pushing >= 2) return;  // the desktop app is away: no pile of clients
        pushing += 1;
        pushes += 1;
        const args = pushes % 10 === 0 ? ['next'] : ['volume', pushes % 2 ? '0.4' : '0.6'];
        run(join(buildDir, 'Velmora/velmora-ctl'), ['--timeout', '5', ...args], session.env, 8000)
            .catch(() => { pushFailures += 1; })
            .finally(() => { pushing -= 1; });
    };
    let restarts = 0;
    let signIns = 0;
    const started = Date.now();
    for (let second = 1; second <= minutes * 60; second += 1) {
        const due = started + second * 1000;
        const wait = due - Date.now();
        if (wait > 0) await sleep(wait);
        if (widget.process.exited) throw new Error(`velmora exited:\n${widget.process.lines.slice(-30).join('\n')}`);
        if (second % 60 === 0) await sample(second / 60);
        if (!(judged(Math.ceil(second / 60)) && second % 60 >= 50)) push();
        if (second % 300 === 60) {
            restarts += 1;
            await session.control('restart 500');
        }
        if (second % 600 === 30 && second > 60) {
            signIns += 1;
            const feeds = await feedRequests();
            await session.control('logout');
            if (page) await page.locator('#signed-out').waitFor({ state: 'visible', timeout: 60000 });
            else await sleep(2000);
            await session.control('login');
            await signedIn(feeds);
        }
    }
    say(`${pushes} pushes (${pushFailures} failed while the desktop app was away), ${restarts} restarts, ${signIns} sign-ins again`);

    // Per process, the least sample of a window (a process must be there in every sample of it).
    const floorOf = (test) => {
        const chosen = samples.filter((s) => test(s.minute));
        const floor = new Map();
        for (const [key, p] of chosen[0].processes) {
            const all = chosen.map((s) => s.processes.get(key));
            if (all.some((q) => !q)) continue;
            floor.set(key, { ...p, kib: Math.min(...all.map((q) => q.kib)), cpu: all[all.length - 1].cpu });
        }
        return { floor, from: chosen[0].minute, to: chosen[chosen.length - 1].minute };
    };
    const baseline = floorOf(inBaseline);
    const end = floorOf(inEnd);
    const first = samples[0];
    const elapsedMinutes = end.to - baseline.to;
    const span = (w) => (w.from === w.to ? `minute ${w.from}` : `minutes ${w.from}-${w.to}`);
    say(`growth of private memory, least sample of ${span(baseline)} to least of ${span(end)} `
        + `(limit ${LIMIT_KIB / 1024} MiB per widget process):`);
    for (const [key, last] of end.floor) {
        const start = baseline.floor.get(key);
        const origin = first.processes.get(key);
        if (!start) {
            say(`  ${key}: not there through ${span(baseline)} (${(last.kib / 1024).toFixed(1)} MiB at the end)`);
            if (last.name !== 'corvana-sim') exitCode = 1;
            continue;
        }
        const cpuPercent = elapsedMinutes > 0 ? (100 * (last.cpu - start.cpu)) / (elapsedMinutes * 60) : NaN;
        const growth = last.kib - start.kib;
        const judgedHere = last.name !== 'corvana-sim';
        const over = judgedHere && growth > LIMIT_KIB;
        if (over) exitCode = 1;
        say(`  ${key}: ${(start.kib / 1024).toFixed(1)} -> ${(last.kib / 1024).toFixed(1)} MiB, growth ${(growth / 1024).toFixed(2)} MiB`
            + `${origin ? ` (${((last.kib - origin.kib) / 1024).toFixed(2)} MiB since the start)` : ''}, CPU ${cpuPercent.toFixed(1)} %`
            + `${judgedHere ? (over ? '  FAIL' : '  ok') : '  (not judged)'}`);
    }
    for (const key of baseline.floor.keys()) {
        if (!end.floor.has(key)) {
            say(`  ${key}: gone before the end`);
            if (!key.startsWith('corvana-sim')) exitCode = 1;
        }
    }
    say(exitCode === 0 ? 'PASS' : 'FAIL');
} catch (error) {
    console.error(`soak ${frontEnd}: ${error.stack || error}`);
    exitCode = 1;
} finally {
    if (widget?.stop) await widget.stop().catch(() => {});
    await session.stop().catch(() => {});
}
process.exit(exitCode);
