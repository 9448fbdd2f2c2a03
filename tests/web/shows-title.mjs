// Waits until the web front end behind a DevTools endpoint is signed in and shows a title.
//   node shows-title.mjs DEVTOOLS_URL TITLE
import { chromium } from 'playwright-core';
import { START_URL, until } from './harness.mjs';

const [endpoint, title] = process.argv.slice(2);
await until(() => fetch(`${endpoint}/json/version`).then((r) => r.ok, () => false), 'the DevTools endpoint', 60000);
const browser = await chromium.connectOverCDP(endpoint, { noDefaults: true });
try {
    const page = await until(() => browser.contexts().flatMap((c) => c.pages()).find((p) => p.url() === START_URL),
        'the packaged page');
    await page.locator('#signed-in').waitFor({ state: 'visible', timeout: 60000 });
    await until(async () => (await page.locator('#track-title').textContent()) === title, `the title ${title}`);
} finally {
    await browser.close();
}
