// The floor page's script: the feed is built once; "play" and "pause" start and stop an update of the
// elapsed time and the bar once a second; a pushed state (JSON) is shown at once and answered with the
// wall-clock time at which the DOM held it.
'use strict';

const feed = document.getElementById('feed');
for (let row = 0; row < 4; row += 1) {
    const title = document.createElement('p');
    title.className = 'row-title';
    title.textContent = `Row ${row + 1}`;
    const tiles = document.createElement('div');
    tiles.className = 'tiles';
    for (let item = 0; item < 6; item += 1) {
        const tile = document.createElement('div');
        tile.className = 'tile';
        const image = document.createElement('img');
        image.src = 'cover.svg';
        image.alt = '';
        const name = document.createElement('span');
        name.textContent = `Item ${item + 1}`;
        tile.append(image, name);
        tiles.append(tile);
    }
    feed.append(title, tiles);
}

const elapsed = document.getElementById('elapsed');
const fill = document.getElementById('fill');
const title = document.getElementById('title');
const artist = document.getElementById('artist');
const duration = 184000;
let position = 61000;
let ticking = null;

const time = (ms) => `${Math.floor(ms / 60000)}:${String(Math.floor(ms / 1000) % 60).padStart(2, '0')}`;
const show = () => {
    elapsed.textContent = time(position);
    fill.style.transform = `translateX(${(position / duration - 1) * 100}%)`;
};

new QWebChannel(qt.webChannelTransport, (channel) => {
    const host = channel.objects.floor;
    host.message.connect((text) => {
        if (text === 'play') {
            if (ticking === null) ticking = setInterval(() => { position = (position + 1000) % duration; show(); }, 1000);
        } else if (text === 'pause') {
            clearInterval(ticking);
            ticking = null;
        } else {
            const state = JSON.parse(text);
            title.textContent = state.track.name;
            artist.textContent = state.track.artist;
            position = state.position;
            show();
            host.postMessage(`shown ${performance.timeOrigin + performance.now()}`);
        }
    });
    host.postMessage('ready');
});
