// The soak: one front end of the widget against corvana-sim for an hour (or --minutes N), as a long
// session would run it: a push a second (another client of the channel changes the volume, and every
// tenth time skips to the next track), the desktop app leaving the bus and coming back every five
// minutes, and a sign-out and sign-in every ten. Each minute it samples the private memory
// (smaps_rollup: Private_Clean + Private_Dirty) and the CPU time of each process of the widget (velmora
// and, for the web front end, each QtWebEngine process) and of corvana-sim; before the sample at the end
// of the first ten minutes and before the last it forces a garbage collection in the web page (DevTools)
// and lets the widget settle. It prints the growth of each process between those two samples and fails
// when a widget process grew by more than 2 MiB.
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
    // The two samples the growth is judged by (the end of the first ten minutes and the last) are taken
    // settled: the page's garbage collected, no push for the ten seconds before, and the least of three
    // readings a second apart, so that a burst of work in flight at that moment is not counted as growth.
    const judged = (minute) => minute === baselineMinute || minute === minutes;
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

    const baseline = samples.find((s) => s.minute === baselineMinute);
    const last = samples[samples.length - 1];
    const first = samples[0];
    const elapsedMinutes = last.minute - baseline.minute;
    say(`growth of private memory from minute ${baseline.minute} to minute ${last.minute} (limit ${LIMIT_KIB / 1024} MiB per widget process):`);
    for (const [key, end] of last.processes) {
        const start = baseline.processes.get(key);
        const origin = first.processes.get(key);
        const cpuPercent = start ? (100 * (end.cpu - start.cpu)) / (elapsedMinutes * 60) : NaN;
        if (!start) {
            say(`  ${key}: started after minute ${baseline.minute} (${(end.kib / 1024).toFixed(1)} MiB now)`);
            if (end.name !== 'corvana-sim') exitCode = 1;
            continue;
        }
        const growth = end.kib - start.kib;
        const judged = end.name !== 'corvana-sim';
        const over = judged && growth > LIMIT_KIB;
        if (over) exitCode = 1;
        say(`  ${key}: ${(start.kib / 1024).toFixed(1)} -> ${(end.kib / 1024).toFixed(1)} MiB, growth ${(growth / 1024).toFixed(2)} MiB`
            + `${origin ? ` (${((end.kib - origin.kib) / 1024).toFixed(2)} MiB since the start)` : ''}, CPU ${cpuPercent.toFixed(1)} %`
            + `${judged ? (over ? '  FAIL' : '  ok') : '  (not judged)'}`);
    }
    for (const key of baseline.processes.keys()) {
        if (!last.processes.has(key)) {
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
