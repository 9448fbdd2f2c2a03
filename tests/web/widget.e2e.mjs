// The web front end end to end: velmora shows the packaged page against corvana-sim on a private bus with
// a keyring, and Playwright plays the player over the DevTools protocol. Each press must change the
// simulator (read through another client of the desktop channel, and its counters), and the page must
// then show the state the simulator pushed. Every wait is for a state.
//
//   node widget.e2e.mjs BUILD_DIR
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { sleep, startSession, startWidget, until } from './harness.mjs';

const buildDir = process.argv[2];
if (!buildDir) throw new Error('usage: node widget.e2e.mjs BUILD_DIR');

const session = await startSession(buildDir);
let widget;
try {
    widget = await startWidget(session, buildDir);
    const { page } = widget;
    const text = (selector) => page.locator(selector).textContent();
    const label = (selector) => page.locator(selector).getAttribute('aria-label');
    const status = () => session.status();
    const step = (name) => console.log(`widget.e2e: ${name}`);

    // The page records what it sends, so that the test can count commands; the bridge stays the page's.
    const recordCommands = () => page.evaluate(() => {
        const webview = window.chrome.webview;
        if (webview.recorded) return;
        webview.recorded = [];
        const post = webview.postMessage.bind(webview);
        webview.postMessage = (command) => {
            webview.recorded.push(String(command));
            post(command);
        };
    });
    const recorded = () => page.evaluate(() => window.chrome.webview.recorded.splice(0));

    step('signs in and shows the track and the home rows, in the expanded window');
    await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
    await until(async () => (await page.evaluate(() => [innerWidth, innerHeight])).join('x') === '320x612',
        'the expanded window (320 x 612)');
    const playing = await status();
    await until(async () => (await text('#track-title')) === playing.track.name, 'the playing track\'s title');
    assert.equal(await text('#track-artist'), playing.track.artist);
    await until(async () => (await page.locator('.row').count()) === 4, 'the four home rows');
    assert.deepEqual(await page.locator('.row-title').allTextContents(),
        ['Game on', 'Your favourite artists', 'Podcasts for the queue', 'Recently played']);
    // Covers come over HTTPS from the simulator, trusted through its CA.
    await until(() => page.evaluate(() => document.getElementById('cover').classList.contains('loaded')
        && [...document.querySelectorAll('.tile-cover img')].some((img) => img.complete && img.naturalWidth > 0)),
    'the covers');

    step('the progress bar advances while playing');
    const fillOffset = () => page.evaluate(() =>
        new DOMMatrix(getComputedStyle(document.querySelector('#seek .slider-fill')).transform).m41);
    const secondsNow = async () => Number(await page.locator('#seek').getAttribute('aria-valuenow'));
    const startOffset = await fillOffset();
    const startSeconds = await secondsNow();
    await until(async () => (await fillOffset()) > startOffset + 0.5, 'the bar to move');
    await until(async () => (await secondsNow()) > startSeconds, 'the elapsed seconds to move');

    step('playing, nothing animates: the bar moves by whole pixels, at most once per second shown');
    // Only the short fade of a new item may run; a bar animated to the item's end would run throughout.
    await until(() => page.evaluate(() => document.getAnimations().every((a) => a.playState !== 'running')),
        'no animation running');
    const barMoves = await page.evaluate(() => new Promise((resolve) => {
        const fill = document.querySelector('#seek .slider-fill');
        const elapsed = document.getElementById('elapsed');
        const shown = [];
        const moves = [];
        const observer = new MutationObserver((records) => {
            for (const record of records) {
                if (record.target === fill) {
                    const offset = new DOMMatrix(getComputedStyle(fill).transform).m41;
                    moves.push({ second: shown.length, length: offset + fill.getBoundingClientRect().width });
                } else if (elapsed.textContent !== shown[shown.length - 1]) {
                    shown.push(elapsed.textContent);
                }
            }
            // Every move between the second and the fourth time shown, three whole seconds.
            if (shown.length === 4) {
                observer.disconnect();
                resolve(moves.filter((move) => move.second >= 1 && move.second < 4));
            }
        });
        observer.observe(fill, { attributes: true, attributeFilter: ['style'] });
        observer.observe(elapsed, { childList: true, characterData: true, subtree: true });
    }));
    const perSecond = [1, 2, 3].map((second) => barMoves.filter((move) => move.second === second).length);
    assert.ok(perSecond.every((count) => count <= 1), `bar moves per second shown: ${perSecond.join(' ')}`);
    for (const { length } of barMoves) assert.ok(Math.abs(length - Math.round(length)) < 0.01, `a fill ${length} px long`);

    await recordCommands();

    step('pause, then the bar stands still');
    await page.click('#play-pause');
    await until(async () => (await status()).is_paused, 'the simulator to pause');
    await until(async () => (await label('#play-pause')) === 'Play', 'the page to show the paused state');
    const pausedOffset = await fillOffset();
    const pausedSeconds = await secondsNow();
    await sleep(1500);
    assert.equal(await fillOffset(), pausedOffset);
    assert.equal(await secondsNow(), pausedSeconds);
    await page.click('#play-pause');
    await until(async () => !(await status()).is_paused, 'the simulator to resume');
    await until(async () => (await label('#play-pause')) === 'Pause', 'the page to show it playing');

    step('next');
    const before = (await status()).track.uri;
    await page.click('#next');
    const next = await until(async () => { const s = await status(); return s.track.uri !== before && s; }, 'the next item');
    await until(async () => (await text('#track-title')) === next.track.name, 'the next title on the page');

    step('a burst of 1,000 pushes, then the next item: the page ends on the last state, every push answered');
    const outcomes = async () => {
        const { pushes, pushes_waiting: waiting } = await session.counters();
        return { settled: Object.values(pushes).reduce((sum, n) => sum + n, 0), waiting };
    };
    const beforeBurst = await outcomes();
    await session.control('burst 1000');
    // Pushed by the simulator after the thousand copies of the state before it.
    await session.ctl('next');
    const last = (await status()).track;
    assert.notEqual(last.uri, next.track.uri);
    await until(async () => (await outcomes()).waiting === 0, 'the burst to be delivered', 60000);
    assert.ok((await outcomes()).settled - beforeBurst.settled >= 1001, 'pushes left without an outcome');
    await until(async () => (await text('#track-title')) === last.name, 'the title after the burst on the page');
    // A state pushed after the burst is shown after all of it: no copy from the burst comes later.
    await session.ctl('pause');
    await until(async () => (await label('#play-pause')) === 'Play', 'the pause after the burst on the page');
    assert.equal(await text('#track-title'), last.name);
    await session.ctl('resume');
    await until(async () => (await label('#play-pause')) === 'Pause', 'playing again');

    step('shuffle and repeat');
    if (!(await page.locator('#shuffle').isDisabled())) {
        await page.click('#shuffle');
        await until(async () => (await status()).shuffle, 'shuffle on in the simulator');
        await until(async () => (await page.locator('#shuffle').getAttribute('aria-pressed')) === 'true', 'shuffle shown on');
    }
    await page.click('#repeat');
    await until(async () => (await status()).repeat_context, 'repeat on in the simulator');
    await until(async () => (await label('#repeat')) === 'Repeat all', 'repeat shown on');

    step('like');
    const likedUri = (await status()).track.uri;
    const liked = await label('#like');
    await page.click('#like');
    const wantInLibrary = liked === 'Add to library';
    await until(async () => (await status()).track.is_in_collection === wantInLibrary, 'the library to change');
    await until(async () => (await label('#like')) === (wantInLibrary ? 'Remove from library' : 'Add to library'),
        'the heart to follow');
    assert.equal((await status()).track.uri, likedUri);

    step('seek by dragging the bar: a few commands, then where it ends');
    await recorded();
    const bar = await page.locator('#seek').boundingBox();
    await page.mouse.move(bar.x + bar.width * 0.1, bar.y + bar.height / 2);
    await page.mouse.down();
    const dragStart = Date.now();
    for (let i = 1; i <= 40; i += 1) {
        await page.mouse.move(bar.x + bar.width * (0.1 + i * 0.01), bar.y + bar.height / 2);
    }
    await page.mouse.up();
    const dragSeconds = (Date.now() - dragStart) / 1000;
    const seeks = (await recorded()).filter((command) => command.startsWith('seekTo:'));
    assert.ok(seeks.length >= 2 && seeks.length <= Math.ceil(dragSeconds * 4) + 2,
        `${seeks.length} seeks in ${dragSeconds} s: ${seeks.join(' ')}`);
    const target = Number(seeks[seeks.length - 1].slice('seekTo:'.length));
    await until(async () => Math.abs((await status()).position_as_of_timestamp - target) < 3000, 'the simulator to seek');

    step('devices: the picker, the volume, another device');
    await page.click('#devices');
    await page.locator('#device-sheet').waitFor({ state: 'visible' });
    await until(async () => (await page.locator('.device').count()) === 3, 'three devices');
    assert.deepEqual(await page.locator('.device-name').allTextContents(),
        ['Corvana Desktop', 'Pocket Phone', 'Living Room Speaker']);
    await page.locator('#volume').waitFor({ state: 'visible' });
    const volumeBox = await page.locator('#volume').boundingBox();
    await page.mouse.move(volumeBox.x + 2, volumeBox.y + volumeBox.height / 2);
    await page.mouse.down();
    const volumeDragStart = Date.now();
    for (let i = 1; i <= 30; i += 1) {
        await page.mouse.move(volumeBox.x + volumeBox.width * (i / 30) * 0.3, volumeBox.y + volumeBox.height / 2);
    }
    await page.mouse.up();
    // At most four a second while the drag lasts (longer in a sanitizer build), and the final value.
    const volumeDragSeconds = (Date.now() - volumeDragStart) / 1000;
    const volumes = (await recorded()).filter((command) => command.startsWith('setVolume:'));
    const finalVolume = Number(volumes[volumes.length - 1].slice('setVolume:'.length));
    assert.ok(volumes.length >= 1 && volumes.length <= Math.ceil(volumeDragSeconds * 4) + 2,
        `${volumes.length} volume commands in ${volumeDragSeconds} s: ${volumes.join(' ')}`);
    await until(async () => Math.abs((await status()).volume_percentage - finalVolume) < 0.011, 'the volume to change');
    await until(async () => Math.abs(Number(await page.locator('#volume').getAttribute('aria-valuenow')) - finalVolume * 100) <= 1,
        'the slider to show the pushed volume');
    await page.locator('.device', { hasText: 'Pocket Phone' }).click();
    await page.locator('#device-sheet').waitFor({ state: 'hidden' });
    await until(async () => (await session.ctl('devices')).includes('"active_device_id":"sim-phone"'), 'the transfer');
    await until(() => page.evaluate(() => document.getElementById('devices').classList.contains('on')),
        'the devices button to show playback elsewhere');

    step('a tile plays its context');
    await page.locator('.tile', { hasText: 'Final Stage' }).click();
    await until(async () => (await status()).context === 'corvana:album:3FinalStage', 'the album to play');

    step('keyboard: Tab reaches the controls and Space presses them');
    // From the first control of the page, as after the widget got the keyboard.
    await page.locator('#expand').focus();
    let reached = false;
    for (let i = 0; i < 10 && !reached; i += 1) {
        await page.keyboard.press('Tab');
        reached = await page.evaluate(() => document.activeElement && document.activeElement.id === 'play-pause');
    }
    assert.ok(reached, 'Tab never reached the play button');
    const wasPaused = (await status()).is_paused;
    await page.keyboard.press('Space');
    await until(async () => (await status()).is_paused !== wasPaused, 'Space to press the button');

    step('hostile texts show literally, and bad events change nothing');
    const titleBefore = await text('#track-title');
    const hostile = '<img src=x onerror=alert(1)>';
    await page.evaluate((hostile) => {
        const post = (value) => window.chrome.webview.dispatchEvent(new MessageEvent('message',
            { data: typeof value === 'string' ? value : JSON.stringify(value) }));
        for (const bad of ['not json', '[]', 'null', '{"type":1}', { type: 'unknown' }, { type: 'playbackState' },
            { type: 'playbackState', isActive: 'yes', isPaused: false }, { type: 'deviceList', devices: 'x' },
            { type: 'login_state_changed' }, { type: 'homeContent', sections: {} }, { type: 'expandedState', isExpanded: 1 }]) {
            post(bad);
        }
        // A feed of more than a megabyte is read as far as anyone scrolls, and the page stays whole.
        post({ type: 'homeContent', sections: Array.from({ length: 60 }, (_, s) => ({ name: `Row ${s}`,
            items: Array.from({ length: 60 }, (_, i) => ({ name: `Item ${i} ${'x'.repeat(300)}`, type: 'playlist',
                uri: `corvana:playlist:${i}`, images: [] })) })) });
        window.largeFeedRows = document.querySelectorAll('.row').length;
        window.largeFeedTiles = document.querySelectorAll('.tile').length;
        post({ type: 'homeContent', sections: [{ name: `<b>${hostile}</b>`, items: [
            { name: hostile, type: 'playlist', uri: 'corvana:playlist:x', images: [{ url: 'javascript:alert(1)' }],
                owner: { display_name: '<script>alert(2)</script>' } }] }] });
    }, hostile);
    await until(async () => (await page.locator('.tile-name').first().textContent()) === hostile, 'the hostile name as text');
    assert.equal(await page.locator('.row-title').first().textContent(), `<b>${hostile}</b>`);
    assert.equal(await page.locator('.tile-subtitle').first().textContent(), '<script>alert(2)</script>');
    assert.equal(await page.locator('#feed img[src="x"], #feed b, #feed script').count(), 0);
    assert.equal(await text('#track-title'), titleBefore);
    assert.deepEqual(await page.evaluate(() => [window.largeFeedRows, window.largeFeedTiles]), [20, 1000]);

    step('collapse: the small window, the feed hidden, the choice kept');
    await page.click('#expand');
    await until(async () => (await page.evaluate(() => [innerWidth, innerHeight])).join('x') === '320x156',
        'the collapsed window (320 x 156)');
    await page.locator('#feed').waitFor({ state: 'hidden' });
    const settings = JSON.parse(readFileSync(join(session.env.XDG_DATA_HOME, 'velmora/settings.json'), 'utf8'));
    assert.equal(JSON.stringify(settings).includes('"CorvanaWidgetExpanded"'), true);
    assert.equal(await label('#expand'), 'Expand');

    step('sign-out: the signed-out view at 480 x 488, and its two ways to Corvana');
    await session.control('logout');
    await page.locator('#signed-out').waitFor({ state: 'visible' });
    await until(async () => (await page.evaluate(() => [innerWidth, innerHeight])).join('x') === '480x488',
        'the signed-out window (480 x 488)');
    await page.click('#start-listening');
    await page.click('#open-corvana');
    await until(() => widget.launchedUris().length === 2, 'two launches');
    assert.deepEqual(widget.launchedUris(), ['corvana:open:minimized?utm_medium=desktop-xbox-game-bar', 'corvana:open']);

    step('sign-in again: collapsed, as the player left it');
    await session.control('login');
    await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
    await until(async () => (await page.evaluate(() => [innerWidth, innerHeight])).join('x') === '320x156',
        'the collapsed window again');

    const counters = await session.counters();
    for (const method of ['playback_pause', 'playback_resume', 'playback_next', 'playback_seek', 'playback_repeat',
        'playback_volume', 'connect_transfer', 'playback_play']) {
        assert.ok(Object.keys(counters.requests).some((name) => name === method && counters.requests[name] > 0),
            `no ${method} in ${JSON.stringify(counters.requests)}`);
    }
    assert.deepEqual(widget.consoleErrors, []);

    step('its renderer ends: the page comes back signed in, with the track');
    const devtools = await page.context().newCDPSession(page);
    devtools.send('Page.crash').catch(() => {});  // answered by the renderer's end, never by a reply
    await widget.process.waitFor(/the page's renderer ended/);
    // A session opened while no renderer runs does not see the page come back, so each try opens anew.
    await widget.detach().catch(() => {});
    await until(async () => {
        await widget.attach();
        if (await widget.page.evaluate(() => document.readyState === 'complete').catch(() => false)) return true;
        await widget.detach();
        return false;
    }, 'the page loaded anew');
    await widget.page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
    await until(async () => (await widget.page.locator('#track-title').textContent()) === (await status()).track.name,
        'the playing track\'s title again');
    console.log('widget.e2e: passed');
} finally {
    if (widget) await widget.stop();
    await session.stop();
}
