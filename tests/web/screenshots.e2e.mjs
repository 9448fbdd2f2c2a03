// Pictures of the web front end's main states, for a person to look at: velmora against corvana-sim, each
// state reached as a player would reach it, the page captured at the window's own size over the host's
// dark background. Writes BUILD_DIR/screenshots/web-*.png and names each file it wrote.
//
//   node screenshots.e2e.mjs BUILD_DIR
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { coversInView, run, startSession, startWidget, until } from './harness.mjs';

const buildDir = process.argv[2];
if (!buildDir) throw new Error('usage: node screenshots.e2e.mjs BUILD_DIR');
const folder = join(buildDir, 'screenshots');
mkdirSync(folder, { recursive: true });

const session = await startSession(buildDir);
let widget;
try {
    widget = await startWidget(session, buildDir);
    const { page } = widget;
    // The web view is transparent and the host draws the window's background behind it (#121212 at 92%),
    // which a capture of the page alone lacks: the page's root gets that colour, as it reads over a dark game.
    const behind = () => page.evaluate(() => { document.documentElement.style.background = 'rgb(20, 20, 21)'; });

    const size = () => page.evaluate(() => `${innerWidth}x${innerHeight}`);
    const settle = () => page.evaluate(() => new Promise((resolve) =>
        requestAnimationFrame(() => requestAnimationFrame(resolve))));
    const shoot = async (name, expectedSize) => {
        await behind();
        await until(async () => (await size()) === expectedSize, `${expectedSize} for ${name}`);
        // Covers that are on their way are waited for, so no picture shows a half-loaded state.
        await coversInView(page, `the covers of ${name}`);
        await page.evaluate(() => document.getAnimations().filter((a) => a.effect
            && !a.effect.target.closest('.slider')).forEach((a) => a.finish()));
        await settle();
        const path = join(folder, `web-${name}.png`);
        await page.screenshot({ path });
        console.log(`screenshot ${path}`);
    };
    const status = () => session.status();
    const waitForType = async (type) => {
        for (let i = 0; i < 12 && (await status()).type !== type; i += 1) await session.ctl('next');
        const state = await status();
        assert.equal(state.type, type);
        await until(async () => (await page.locator('#track-title').textContent()) === state.track.name, `${type} shown`);
    };

    await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
    await until(async () => (await page.locator('.row').count()) === 4, 'the home rows');
    await until(() => page.evaluate(() => document.getElementById('cover').classList.contains('loaded')), 'the cover');
    await shoot('expanded', '320x612');

    await page.click('#devices');
    await until(async () => (await page.locator('.device').count()) === 3, 'the devices');
    await shoot('devices-expanded', '320x612');
    await page.keyboard.press('Escape');

    // Repeat on, and the progress bar held down at four fifths: the thumb and the elapsed time follow.
    await session.ctl('repeat', 'context');
    await until(() => page.evaluate(() => document.getElementById('repeat').classList.contains('on')), 'repeat on');
    const bar = await page.locator('#seek').boundingBox();
    await page.mouse.move(bar.x + bar.width * 0.8, bar.y + bar.height / 2);
    await page.mouse.down();
    await shoot('seek-dragging', '320x612');
    await page.mouse.up();
    await session.ctl('repeat', 'off');

    await page.click('#expand');
    await page.locator('#feed').waitFor({ state: 'hidden' });
    await shoot('collapsed', '320x156');

    await page.click('#devices');
    await until(async () => (await page.locator('.device').count()) === 3, 'the devices');
    await page.mouse.move(0, 0);
    await shoot('devices-collapsed', '320x156');
    await page.keyboard.press('Escape');

    await waitForType('episode');
    await shoot('episode', '320x156');
    await waitForType('ad');
    await shoot('advertisement', '320x156');

    // Keyboard focus on the play button: the accent ring.
    // From the first control of the page, as after the widget got the keyboard.
    await page.locator('#expand').focus();
    for (let i = 0; i < 10; i += 1) {
        await page.keyboard.press('Tab');
        if (await page.evaluate(() => document.activeElement.id === 'play-pause')) break;
    }
    await shoot('keyboard-focus', '320x156');

    // Pinned only at a low opacity, as the player asks for it from another velmora: the block alone.
    const velmora = (...args) => run(join(buildDir, 'Velmora/velmora'), [...args, 'ms-gamebarwidget:launch'],
        { QT_QPA_PLATFORM: 'offscreen', ...session.env });
    await velmora('--pinned-only', '--opacity', '0.3');
    await until(() => page.evaluate(() => document.getElementById('widget').classList.contains('pinned')), 'pinned only');
    await shoot('pinned-only', '320x108');
    await run('gdbus', ['call', '--session', '--dest', 'org.velmora.Velmora', '--object-path', '/org/velmora/Velmora',
        '--method', 'org.freedesktop.Application.ActivateAction', 'pinned-only', '[<false>]', '{}'], session.env);
    await velmora('--opacity', '1');

    await session.control('logout');
    await page.locator('#signed-out').waitFor({ state: 'visible' });
    await shoot('signed-out', '480x488');
    for (let i = 0; i < 5 && !(await page.evaluate(() => document.activeElement.id === 'start-listening')); i += 1) {
        await page.keyboard.press('Tab');
    }
    await shoot('signed-out-focus', '480x488');
    assert.deepEqual(widget.consoleErrors, []);
} finally {
    if (widget) await widget.stop();
    await session.stop();
}
