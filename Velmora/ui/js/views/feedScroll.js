// How the home rows scroll. The feed fades into the window's bottom edge while more is below, so that a
// row cut by the edge reads as one to scroll to. The arrow keys move the focus from tile to tile (left and
// right in a row, up and down to the row above or below), and a tile that takes the focus is scrolled fully
// into view, its focus ring included: in its row, as far from the edge as the first tile sits, and in the
// feed, clear of the fade.
import { setClass } from '../dom.js';

// The focus ring: a 2 px outline 2 px away.
const RING = 4;

function cssPixels(element, property) {
    return parseFloat(getComputedStyle(element).getPropertyValue(property)) || 0;
}

// Scrolls `scroller` along one axis so that [start, end] (viewport pixels) lies inside its box, `margin`
// away from either edge.
function reveal(scroller, start, end, boxStart, boxEnd, margin, axis) {
    let by = 0;
    if (start - margin < boxStart) by = start - margin - boxStart;
    else if (end + margin > boxEnd) by = end + margin - boxEnd;
    if (by !== 0) scroller.scrollBy({ [axis]: by, behavior: 'instant' });
}

function showWhole(feed, tile) {
    const tiles = tile.closest('.row-tiles');
    if (tiles) {
        const box = tiles.getBoundingClientRect();
        const shown = tile.getBoundingClientRect();
        reveal(tiles, shown.left, shown.right, box.left, box.right, Math.max(RING, cssPixels(tiles, 'padding-left')), 'left');
    }
    const box = feed.getBoundingClientRect();
    const shown = tile.getBoundingClientRect();
    reveal(feed, shown.top, shown.bottom, box.top, box.bottom - cssPixels(document.documentElement, '--feed-fade-height'), RING, 'top');
}

// The tile the arrow key leads to from `tile`, if any: the next one that can be pressed in the row, or the
// one at about the same place in the row above or below.
function neighbour(tile, key) {
    const row = tile.closest('.row');
    if (!row) return null;
    const tilesOf = (section) => [...section.querySelectorAll('.tile:not(:disabled)')];
    const own = tilesOf(row);
    const index = own.indexOf(tile);
    if (key === 'ArrowLeft') return own[index - 1] || null;
    if (key === 'ArrowRight') return own[index + 1] || null;
    const other = key === 'ArrowUp' ? row.previousElementSibling : row.nextElementSibling;
    const candidates = other ? tilesOf(other) : [];
    return candidates[Math.min(index, candidates.length - 1)] || null;
}

export function followFeedScroll(feed, rows) {
    const updateFade = () => setClass(feed, 'more-below', feed.scrollTop + feed.clientHeight < feed.scrollHeight - 1);
    feed.addEventListener('scroll', updateFade, { passive: true });
    // The feed's size changes with the window, its content with each new feed.
    const resized = new ResizeObserver(updateFade);
    resized.observe(feed);
    resized.observe(rows);

    // After the browser's own scrolling to the focused element, which stops at the very edge.
    feed.addEventListener('focusin', (event) => {
        const tile = event.target.closest('.tile');
        if (tile) requestAnimationFrame(() => showWhole(feed, tile));
    });
    feed.addEventListener('keydown', (event) => {
        if (!['ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown'].includes(event.key)) return;
        const tile = event.target.closest('.tile');
        if (!tile) return;
        event.preventDefault();
        const next = neighbour(tile, event.key);
        if (next) next.focus();
    });
}
