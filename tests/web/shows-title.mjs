// Waits until the web front end behind a DevTools endpoint is signed in and shows a title.
//   node shows-title.mjs DEVTOOLS_URL TITLE
import { openPage, showsTitle } from './harness.mjs';

const [endpoint, title] = process.argv.slice(2);
const { browser, page } = await openPage(endpoint);
try {
    await showsTitle(page, title);
} finally {
    await browser.close();
}
