// The whole widget: which of its three faces shows (starting, signed out, signed in), whether the home
// rows show, and the parts that draw themselves from the state.
import { byId, setAttribute, setClass, setHidden, showControl } from '../dom.js';
import { DevicePickerView } from './devicePickerView.js';
import { followFeedScroll } from './feedScroll.js';
import { FeedView } from './feedView.js';
import { NowPlayingView } from './nowPlayingView.js';

export class WidgetView {
    constructor({ send, dispatch }) {
        this.root = byId('widget');
        this.faces = { starting: byId('starting'), signedOut: byId('signed-out'), signedIn: byId('signed-in') };
        this.expand = byId('expand');
        this.pinnedMark = byId('pinned-mark');
        this.expanded = false;
        byId('start-listening').addEventListener('click', () => send('launchCorvana'));
        byId('open-corvana').addEventListener('click', () => send('openCorvana'));
        this.expand.addEventListener('click', () => send(`setExpanded:${!this.expanded}`));
        this.nowPlaying = new NowPlayingView(send);
        this.devices = new DevicePickerView(send);
        this.feed = new FeedView(send, () => dispatch({ type: 'retryHome' }));
        followFeedScroll(byId('feed'), byId('feed-rows'));
        this.shown = null;
    }

    render(state) {
        const previous = this.shown;
        this.shown = state;
        for (const [phase, face] of Object.entries(this.faces)) setHidden(face, state.phase !== phase);
        setAttribute(this.root, 'data-phase', state.phase);
        // Pinned only, the overlay is closed and nobody can reach the widget: the now-playing block shows
        // alone, at the opacity the player chose, and nothing in it takes the focus or a press.
        setClass(this.root, 'pinned', state.pinnedOnly);
        // Written only when it changes: every element of the page inherits it, and a write may restyle
        // them all on each push.
        if (!previous || previous.opacity !== state.opacity) {
            this.root.style.setProperty('--pinned-opacity', String(state.opacity));
        }
        if (this.faces.signedIn.inert !== state.pinnedOnly) this.faces.signedIn.inert = state.pinnedOnly;
        // The Corvana mark says Corvana plays: not for another player.
        setHidden(this.pinnedMark, !(state.pinnedOnly && state.playback && state.playback.isActive
            && state.account !== 'playerOnly'));
        if (state.phase !== 'signedIn' || state.pinnedOnly) this.devices.close({ returnFocus: false });
        if (state.phase !== 'signedIn') return;
        // Signing in or a player alone: what plays, without the feed to expand to.
        const withFeed = state.account === 'signedIn';
        setAttribute(this.root, 'data-account', state.account);
        this.expanded = state.expanded;
        setClass(this.root, 'expanded', state.expanded && withFeed);
        setHidden(this.expand, !withFeed);
        showControl(this.expand, {
            icon: state.expanded ? 'collapse' : 'expand',
            label: state.expanded ? 'Collapse' : 'Expand',
            enabled: true,
        });
        setAttribute(this.expand, 'aria-expanded', state.expanded ? 'true' : 'false');
        if (!previous || previous.playback !== state.playback || previous.phase !== state.phase
            || previous.account !== state.account) {
            this.nowPlaying.show(state.playback, state.playbackReceivedAt, state.account === 'playerOnly');
        }
        this.devices.show(state);
        this.feed.show(state);
    }
}
