// The web front end with a player that has no Corvana account: it shows the player's title and its local
// cover (served under the page's own origin), no feed and no library or expand button, and its pause
// button reaches the player. Pictures the view into SCREENSHOT.
//   node player-view.mjs DEVTOOLS_URL TITLE SCREENSHOT
import assert from 'node:assert/strict';
import { openPage, showsTitle, until } from './harness.mjs';

const [endpoint, title, screenshot] = process.argv.slice(2);
const { browser, page } = await openPage(endpoint);
try {
    await showsTitle(page, title);
    await until(() => page.evaluate(() => innerWidth === 320 && innerHeight === 156), 'the collapsed size');
    assert.equal(await page.getAttribute('#widget', 'data-account'), 'playerOnly');
    for (const hidden of ['#feed', '#like', '#expand']) assert.equal(await page.isHidden(hidden), true, hidden);
    const cover = await until(() => page.evaluate(() => {
        const image = document.getElementById('cover-image');
        return document.getElementById('cover').classList.contains('loaded') && image.naturalWidth > 0
            && image.getAttribute('src');
    }), 'the local cover');
    assert.match(cover, /^velmora-app:\/\/widget\.invalid\/local-cover\/[0-9]+$/);

    // Over the host's dark background, as the window shows it.
    await page.evaluate(() => { document.documentElement.style.background = 'rgb(20, 20, 21)'; });
    // The fades end; the progress bar's run to the end of the song does not.
    await page.evaluate(() => document.getAnimations().filter((a) => a.effect
        && !a.effect.target.closest('.slider')).forEach((a) => a.finish()));
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
    await page.screenshot({ path: screenshot });
    console.log(`screenshot ${screenshot}`);

    await page.locator('#play-pause[aria-label="Pause"]').click();
    await until(async () => (await page.getAttribute('#play-pause', 'aria-label')) === 'Play', 'the play button');
} finally {
    await browser.close();
}
