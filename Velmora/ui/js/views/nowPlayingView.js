// The now-playing block: cover, title and artist, the progress bar and the row of controls. Each button
// sends the command its control (playback.js) carries for the last playback state, so a press always
// matches what the button showed.
import { byId, setAttribute, setClass, setHidden, setText, showControl } from '../dom.js';
import { controlsFor } from '../playback.js';
import { ProgressView } from './progressView.js';

const BUTTONS = ['like', 'shuffle', 'previous', 'playPause', 'next', 'repeat'];
const BUTTON_IDS = {
    like: 'like', shuffle: 'shuffle', previous: 'previous', playPause: 'play-pause', next: 'next', repeat: 'repeat',
};

export class NowPlayingView {
    constructor(send) {
        this.cover = byId('cover');
        this.coverImage = byId('cover-image');
        this.title = byId('track-title');
        this.artist = byId('track-artist');
        this.trackUri = null;
        this.buttons = {};
        this.controls = controlsFor(null);
        for (const name of BUTTONS) {
            const button = byId(BUTTON_IDS[name]);
            button.addEventListener('click', () => {
                const { command, enabled } = this.controls[name];
                if (enabled && command) send(command);
            });
            this.buttons[name] = button;
        }
        this.coverImage.addEventListener('load', () => setClass(this.cover, 'loaded', true));
        this.coverImage.addEventListener('error', () => setClass(this.cover, 'loaded', false));
        this.progress = new ProgressView(
            { bar: byId('seek'), elapsed: byId('elapsed'), duration: byId('duration') }, send);
    }

    // `playerOnly`: a player without a Corvana account, which has no library.
    show(playback, receivedAt, playerOnly = false) {
        const track = playback && playback.track;
        this.showTrack(track, playback, playerOnly);
        this.controls = controlsFor(playback);
        for (const name of BUTTONS) showControl(this.buttons[name], this.controls[name]);
        setHidden(this.buttons.like, playerOnly);
        this.progress.show(playback, receivedAt, this.controls.seekable);
    }

    showTrack(track, playback, playerOnly) {
        const uri = track ? track.uri : null;
        const changed = uri !== this.trackUri;
        this.trackUri = uri;
        // A short fade marks a new item; the same item pushed again redraws nothing.
        if (changed) {
            for (const part of [this.cover, this.title, this.artist]) {
                part.animate([{ opacity: 0.2 }, { opacity: 1 }], { duration: 180, easing: 'ease-out' });
            }
        }
        if (track) {
            setText(this.title, track.name || 'Unknown title');
            setText(this.artist, track.artist || track.album);
        } else {
            setText(this.title, playback && playback.isActive ? 'Playing' : 'Nothing playing');
            setText(this.artist, playback && playback.isActive ? ''
                : playerOnly ? 'Start something in your player' : 'Pick something to play in Corvana');
        }
        setAttribute(this.title, 'title', this.title.textContent);
        setAttribute(this.artist, 'title', this.artist.textContent || null);
        const image = track ? track.image : '';
        if ((this.coverImage.getAttribute('src') || '') !== image) {
            setClass(this.cover, 'loaded', false);
            if (image) this.coverImage.setAttribute('src', image);
            else this.coverImage.removeAttribute('src');
        }
    }
}
