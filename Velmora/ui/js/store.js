// The page's state and how each message changes it. Messages are the native side's events (events.js)
// and a few of the page's own (a time-out ran out, the player asked for the feed again). Reducing is pure:
// the same state and message always give the same new state, and what must be sent or timed because of a
// change is derived from the two states by effectsOf.

// How long the page waits for its first login state before it asks the player to open Corvana, and for an
// answer to "requestHome" before it offers to try again. A desktop app that is not running never answers.
export const STARTUP_WAIT_MS = 1500;
export const HOME_WAIT_MS = 8000;

export const initialState = Object.freeze({
    // 'starting' until the first login state (or the wait for it ran out), then 'signedOut' or 'signedIn'
    // (what plays shows).
    phase: 'starting',
    // While what plays shows: 'signedIn' (with the feed), 'signingIn' (the feed still to come) or
    // 'playerOnly' (a player without a Corvana account: no feed, no library); null otherwise.
    account: null,
    expanded: false,
    // The host shows only pinned widgets (the overlay is closed): the now-playing block alone, at opacity.
    pinnedOnly: false,
    opacity: 1,
    playback: null,
    // When the playback state arrived, on the page's clock: the position was true then.
    playbackReceivedAt: 0,
    activeDeviceIsLocal: true,
    devices: [],
    activeDeviceId: null,
    home: [],
    // 'idle' before any request, 'loading' while one is out, then 'loaded' or 'empty'.
    homeStatus: 'idle',
    // Counts the requests for the feed, so that an old request's time-out cannot end a newer one.
    homeRequest: 0,
});

function requestHome(state) {
    return { ...state, homeStatus: 'loading', homeRequest: state.homeRequest + 1 };
}

export function reduce(state, message, now) {
    switch (message.type) {
    case 'startupTimeout':
        return state.phase === 'starting' ? { ...state, phase: 'signedOut' } : state;
    case 'login_state_changed': {
        const account = message.signInState;
        // The feed was the signed-in user's.
        if (account === 'signedOut') return { ...state, phase: 'signedOut', account: null, home: [], homeStatus: 'idle' };
        if (account === 'signedIn') {
            return state.account === 'signedIn' ? state : requestHome({ ...state, phase: 'signedIn', account });
        }
        // Signing in again while signed in: the feed stays until the verdict.
        if (account === 'signingIn' && state.account === 'signedIn') return state;
        if (state.phase === 'signedIn' && state.account === account) return state;
        return { ...state, phase: 'signedIn', account, home: [], homeStatus: 'idle' };
    }
    case 'expandedState':
        return { ...state, expanded: message.isExpanded };
    case 'displayState':
        return { ...state, pinnedOnly: message.isPinnedOnly, opacity: message.opacity };
    case 'playbackState':
        return { ...state, playback: message, playbackReceivedAt: now };
    case 'activeDevice':
        return { ...state, activeDeviceIsLocal: message.isLocal };
    case 'deviceList':
        return { ...state, devices: message.devices, activeDeviceId: message.activeDeviceId };
    case 'homeContent':
        if (state.account !== 'signedIn') return state;
        return { ...state, home: message.sections, homeStatus: message.sections.length ? 'loaded' : 'empty' };
    case 'retryHome':
        return state.account === 'signedIn' && state.homeStatus !== 'loading' ? requestHome(state) : state;
    case 'homeTimeout':
        return message.request === state.homeRequest && state.homeStatus === 'loading'
            ? { ...state, homeStatus: 'empty' } : state;
    default:
        return state;
    }
}

// What a change asks for: commands to send and messages to deliver later ({ afterMs, message }).
export function effectsOf(before, after) {
    const commands = [];
    const timers = [];
    if (before.phase !== 'signedIn' && after.phase === 'signedIn') {
        commands.push('requestPlaybackState', 'requestDevices');
    }
    if (after.homeRequest !== before.homeRequest) {
        commands.push('requestHome');
        timers.push({ afterMs: HOME_WAIT_MS, message: { type: 'homeTimeout', request: after.homeRequest } });
    }
    return { commands, timers };
}
