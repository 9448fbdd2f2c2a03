// The web front end in its host, as a player uses it: velmora against corvana-sim on a (virtual) display,
// the pointer and the keys pressed through the window system with xdotool, so that they reach the web
// view through Qt as a person's do. A right click on the page opens the host's menu; dragging an empty area
// moves the window; pinned-only and the opacity reach the page, which then shows the now-playing block
// alone, at that opacity, in a window of the block's size, and the mode's size comes back after. The feed
// fades at its bottom edge while more is below, the arrow keys move through the tiles, each fully in view,
// and the focus ring of "Start listening" stands out from its fill.
//
//   xvfb-run -a node host.e2e.mjs BUILD_DIR
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { run, startSession, startWidget, until } from './harness.mjs';

const buildDir = process.argv[2];
if (!buildDir) throw new Error('usage: node host.e2e.mjs BUILD_DIR');
if (!process.env.DISPLAY) throw new Error('host.e2e.mjs needs a display (xvfb-run)');

const session = await startSession(buildDir);
let widget;
try {
    widget = await startWidget(session, buildDir);
    const { page } = widget;
    const step = (name) => console.log(`host.e2e: ${name}`);
    const xdotool = (...args) => run('xdotool', args.map(String), session.env);
    const size = () => page.evaluate(() => `${innerWidth}x${innerHeight}`);
    const pinned = () => page.evaluate(() => document.getElementById('widget').classList.contains('pinned'));
    const shows = (selector) => page.locator(selector).isVisible();

    await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
    await until(async () => (await size()) === '320x612', 'the expanded window');
    await until(async () => (await page.locator('.row').count()) === 4, 'the home rows');
    const windowId = (await until(() => xdotool('search', '--onlyvisible', '--name', '^Velmora$')
        .then((out) => out.trim().split('\n')[0], () => ''), 'the widget window on the display'));
    const geometry = async () => {
        const out = await xdotool('getwindowgeometry', '--shell', windowId);
        const value = (name) => Number(new RegExp(`^${name}=(-?\\d+)$`, 'm').exec(out)[1]);
        return { x: value('X'), y: value('Y') };
    };
    // A point of the page (CSS pixels, which are the window's at scale 1) on the screen.
    const onScreen = async ({ x, y }) => {
        const at = await geometry();
        return [Math.round(at.x + x), Math.round(at.y + y)];
    };
    const centreOf = async (selector) => {
        const box = await page.locator(selector).first().boundingBox();
        return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    };
    // The host's menu starts with "Pinned only": a right click, then Down and Return toggle it.
    const togglePinnedFromMenuAt = async (point) => {
        await xdotool('mousemove', ...(await onScreen(point)));
        await xdotool('click', 3);
        await xdotool('key', 'Down', 'Return');
    };

    step('a right click on the page opens the host menu, at a row title, between controls and at the edge');
    const shuffle = await page.locator('#shuffle').boundingBox();
    const previous = await page.locator('#previous').boundingBox();
    const targets = {
        'a row title': await centreOf('.row-title'),
        'the gap between two controls': { x: (shuffle.x + shuffle.width + previous.x) / 2, y: previous.y + previous.height / 2 },
        'the left edge': { x: 2, y: 40 },
    };
    for (const [name, point] of Object.entries(targets)) {
        await page.evaluate(() => document.activeElement && document.activeElement.blur());
        await togglePinnedFromMenuAt(point);
        await until(pinned, `pinned only, from the menu opened at ${name}`, 10000);
        // Only the now-playing block and the Corvana mark, in a window of the block's size.
        await until(async () => (await size()) === '320x108', 'the window shrunk to the now-playing block');
        assert.equal(await shows('#feed'), false);
        assert.equal(await shows('.controls'), false);
        assert.equal(await shows('#expand'), false);
        assert.equal(await shows('#pinned-mark'), true);
        assert.equal(await shows('#track-title'), true);
        await togglePinnedFromMenuAt({ x: 160, y: 40 });
        await until(async () => !(await pinned()), `unpinned again, after ${name}`, 10000);
        await until(async () => (await size()) === '320x612', 'the expanded size back');
    }

    step('pinned only at the opacity the player asks for');
    const velmora = (...args) => run(join(buildDir, 'Velmora/velmora'), [...args, 'ms-gamebarwidget:launch'], session.env);
    await velmora('--pinned-only', '--opacity', '0.1');
    const opacity = () => page.evaluate(() => Number(getComputedStyle(document.querySelector('.now-playing')).opacity));
    await until(async () => (await pinned()) && (await opacity()) === 0.1, 'the now-playing block at 0.1');
    assert.equal(await size(), '320x108');
    // Nothing in it takes the focus or a press while pinned.
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement === document.body), true);
    await velmora('--opacity', '1');
    await togglePinnedFromMenuAt({ x: 160, y: 40 });
    await until(async () => !(await pinned()) && (await opacity()) === 1, 'unpinned at full opacity');
    await until(async () => (await size()) === '320x612', 'the expanded size back');

    step('dragging an empty area moves the window');
    const start = await geometry();
    const title = await centreOf('.row-title');
    await xdotool('mousemove', ...(await onScreen(title)));
    await xdotool('mousedown', 1);
    let dx = 0;
    let dy = 0;
    // The page asks the host to move the window a moment after the press; the pointer moves until it does.
    await until(async () => {
        await xdotool('mousemove_relative', '--', 3, 2);
        dx += 3;
        dy += 2;
        return (await geometry()).x !== start.x;
    }, 'the window to follow the pointer', 10000);
    await xdotool('mousemove_relative', '--', 30, 20);
    dx += 30;
    dy += 20;
    await until(async () => (await geometry()).x === start.x + dx, 'the window to come along');
    await xdotool('mouseup', 1);
    assert.deepEqual(await geometry(), { x: start.x + dx, y: start.y + dy });
    // Pressing a control moves nothing.
    await xdotool('mousemove', ...(await onScreen(await centreOf('#repeat'))));
    await xdotool('mousedown', 1);
    await xdotool('mousemove_relative', '--', 20, 20);
    await xdotool('mouseup', 1);
    assert.deepEqual(await geometry(), { x: start.x + dx, y: start.y + dy });

    step('the feed fades into the bottom edge while more is below');
    const fading = () => page.evaluate(() => getComputedStyle(document.getElementById('feed')).webkitMaskImage !== 'none');
    assert.equal(await fading(), true);
    await page.evaluate(() => { const feed = document.getElementById('feed'); feed.scrollTop = feed.scrollHeight; });
    await until(async () => !(await fading()), 'no fade at the end of the feed');
    await page.evaluate(() => { document.getElementById('feed').scrollTop = 0; });

    step('the arrow keys move through the tiles, each fully in view with its focus ring');
    // Where the focused tile's ring lies outside what its row and the feed show (above the fade).
    const cutOff = () => page.evaluate(() => {
        const tile = document.activeElement;
        const ring = 4;
        const fade = parseFloat(getComputedStyle(document.documentElement).getPropertyValue('--feed-fade-height'));
        const own = tile.getBoundingClientRect();
        const row = tile.closest('.row-tiles').getBoundingClientRect();
        const feed = document.getElementById('feed').getBoundingClientRect();
        const cuts = [];
        if (own.left - ring < row.left || own.right + ring > row.right) cuts.push('row');
        if (own.top - ring < feed.top || own.bottom + ring > feed.bottom - fade) cuts.push('feed');
        return cuts.join(' ');
    });
    const settled = () => page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
    await page.locator('.tile').first().focus();
    const visited = [];
    for (const key of ['ArrowRight', 'ArrowRight', 'ArrowRight', 'ArrowRight', 'ArrowDown', 'ArrowLeft', 'ArrowDown']) {
        await page.keyboard.press(key);
        await settled();
        visited.push(await page.evaluate(() => document.activeElement.getAttribute('aria-label')));
        assert.equal(await cutOff(), '', `the focused tile after ${key}: ${visited.at(-1)}`);
    }
    assert.equal(new Set(visited).size, visited.length, `each key moved the focus: ${visited.join(' | ')}`);

    step('the focus ring of "Start listening" stands out from its fill');
    await session.control('logout');
    await page.locator('#signed-out').waitFor({ state: 'visible' });
    for (let i = 0; i < 5 && !(await page.evaluate(() => document.activeElement.id === 'start-listening')); i += 1) {
        await page.keyboard.press('Tab');
    }
    const colours = await page.evaluate(() => {
        const style = getComputedStyle(document.getElementById('start-listening'));
        return { ring: style.outlineColor, fill: style.backgroundColor, width: style.outlineWidth };
    });
    const luminance = (css) => {
        const [r, g, b] = css.match(/\d+(\.\d+)?/g).slice(0, 3).map((v) => Number(v) / 255)
            .map((v) => (v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4));
        return 0.2126 * r + 0.7152 * g + 0.0722 * b;
    };
    const [dark, light] = [luminance(colours.ring), luminance(colours.fill)].sort((a, b) => a - b);
    assert.ok((light + 0.05) / (dark + 0.05) >= 2, `the ring ${colours.ring} on the fill ${colours.fill}`);
    assert.equal(colours.width, '2px');
    assert.deepEqual(widget.consoleErrors, []);
    console.log('host.e2e: passed');
} finally {
    if (widget) await widget.stop();
    await session.stop();
}
