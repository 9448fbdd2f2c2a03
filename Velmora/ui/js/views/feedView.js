// The home rows shown while the widget is expanded: a title and a horizontally scrolling row of tiles each;
// a tile plays its context. The rows are rebuilt only when a new feed arrives.
import { byId, element, setHidden } from '../dom.js';
import { setIcon } from '../icons.js';

function cover(item) {
    const frame = element('span', { className: item.round ? 'tile-cover round' : 'tile-cover' });
    const placeholder = element('span', { className: 'tile-placeholder' });
    setIcon(placeholder, 'musicNote');
    frame.append(placeholder);
    if (item.image) {
        const image = element('img', { attributes: { alt: '', loading: 'lazy', decoding: 'async', draggable: 'false' } });
        image.addEventListener('load', () => frame.classList.add('loaded'));
        image.addEventListener('error', () => image.remove());
        image.src = item.image;
        frame.append(image);
    }
    return frame;
}

function tile(item, send) {
    const name = element('span', { className: 'tile-name' });
    name.textContent = item.name || 'Untitled';
    const subtitle = element('span', { className: 'tile-subtitle' });
    subtitle.textContent = item.subtitle;
    const button = element('button', { className: 'tile', attributes: { type: 'button' } }, cover(item), name, subtitle);
    button.setAttribute('aria-label', item.subtitle ? `Play ${name.textContent}, ${item.subtitle}` : `Play ${name.textContent}`);
    if (item.round) button.classList.add('round');
    if (item.uri) {
        button.addEventListener('click', () => send(`playContext:${item.uri}`));
    } else {
        button.disabled = true;
    }
    return element('li', {}, button);
}

// Scroll buttons page a row by the tiles that fit, and are disabled at either end.
function row(section, index, send) {
    const titleId = `feed-row-${index}`;
    const title = element('h2', { className: 'row-title', attributes: { id: titleId } });
    title.textContent = section.name;
    const tiles = element('ul', { className: 'row-tiles', attributes: { 'aria-labelledby': titleId } },
        ...section.items.map((item) => tile(item, send)));
    const scroller = (icon, label, direction) => {
        const button = element('button', { className: 'icon-button small', attributes: { type: 'button' } });
        setIcon(button, icon);
        button.setAttribute('aria-label', `${label} ${section.name || 'row'}`);
        button.addEventListener('click', () =>
            tiles.scrollBy({ left: direction * (tiles.clientWidth - 40), behavior: 'smooth' }));
        return button;
    };
    const back = scroller('chevronLeft', 'Scroll back', -1);
    const forward = scroller('chevronRight', 'Scroll forward', 1);
    const updateEnds = () => {
        back.disabled = tiles.scrollLeft <= 1;
        forward.disabled = tiles.scrollLeft + tiles.clientWidth >= tiles.scrollWidth - 1;
    };
    tiles.addEventListener('scroll', updateEnds, { passive: true });
    const header = element('div', { className: 'row-header' }, title,
        element('div', { className: 'row-scrollers' }, back, forward));
    return { element: element('section', { className: 'row' }, header, tiles), updateEnds };
}

export class FeedView {
    constructor(send, retry) {
        this.send = send;
        this.root = byId('feed');
        this.rows = byId('feed-rows');
        this.empty = byId('feed-empty');
        this.home = null;
        this.updates = [];
        byId('feed-retry').addEventListener('click', retry);
        // Which scroll buttons apply depends on the width, which only settles once the rows are laid out.
        new ResizeObserver(() => this.updateEnds()).observe(this.root);
    }

    show(state) {
        const shown = state.account === 'signedIn' && state.expanded;
        setHidden(this.root, !shown);
        setHidden(this.empty, state.homeStatus !== 'empty');
        if (state.home === this.home) return;
        this.home = state.home;
        // A cover whose load is still to come (lazy and out of view, or on its way) keeps its element alive
        // in the engine, and through it the whole row it was taken out with: its tiles, their listeners.
        // Without a source there is nothing left to load.
        for (const image of this.rows.querySelectorAll('img')) image.removeAttribute('src');
        const rows = state.home.map((section, index) => row(section, index, this.send));
        this.rows.replaceChildren(...rows.map((built) => built.element));
        this.updates = rows.map((built) => built.updateEnds);
        this.updateEnds();
    }

    updateEnds() {
        for (const update of this.updates) update();
    }
}
