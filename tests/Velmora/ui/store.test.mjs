// How the page's state follows the events, and what it asks the native side for because of them.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { HOME_WAIT_MS, effectsOf, initialState, reduce } from '../../../Velmora/ui/js/store.js';

// Runs messages through the store as the page does; returns the state and every command and timer.
function run(messages, from = initialState) {
    let state = from;
    const commands = [];
    const timers = [];
    messages.forEach((message, at) => {
        const before = state;
        state = reduce(state, message, at);
        const effects = effectsOf(before, state);
        commands.push(...effects.commands);
        timers.push(...effects.timers);
    });
    return { state, commands, timers };
}

const login = (loggedIn) => ({ type: 'login_state_changed', loggedIn, signInState: loggedIn ? 'signedIn' : 'signedOut' });
const signIn = (signInState) => ({ type: 'login_state_changed', loggedIn: signInState === 'signedIn', signInState });
const section = { name: 'Row', items: [{ name: 'x' }] };

test('the faces follow the login state, and waiting too long for it means signed out', () => {
    const cases = [
        [[], 'starting'],
        [[{ type: 'startupTimeout' }], 'signedOut'],
        [[login(true), { type: 'startupTimeout' }], 'signedIn'],
        [[login(false)], 'signedOut'],
        [[{ type: 'startupTimeout' }, login(true)], 'signedIn'],
        [[login(true), login(false)], 'signedOut'],
        [[{ type: 'playbackState' }], 'starting'],
    ];
    for (const [messages, phase] of cases) assert.equal(run(messages).state.phase, phase, JSON.stringify(messages));
});

test('while signing in and for a player alone what plays shows without the feed, which joins once signed in', () => {
    const cases = [
        // [messages, phase, account, commands]
        [[signIn('signingIn')], 'signedIn', 'signingIn', ['requestPlaybackState', 'requestDevices']],
        [[signIn('signingIn'), signIn('signedIn')], 'signedIn', 'signedIn',
            ['requestPlaybackState', 'requestDevices', 'requestHome']],
        [[signIn('signingIn'), signIn('signedOut')], 'signedOut', null, ['requestPlaybackState', 'requestDevices']],
        [[signIn('playerOnly'), signIn('playerOnly')], 'signedIn', 'playerOnly', ['requestPlaybackState', 'requestDevices']],
        // A login event while signed in keeps the feed until its verdict.
        [[signIn('signedIn'), signIn('signingIn')], 'signedIn', 'signedIn',
            ['requestPlaybackState', 'requestDevices', 'requestHome']],
        [[signIn('playerOnly'), signIn('signingIn'), signIn('signedIn')], 'signedIn', 'signedIn',
            ['requestPlaybackState', 'requestDevices', 'requestHome']],
    ];
    for (const [messages, phase, account, commands] of cases) {
        const { state, commands: sent } = run(messages);
        assert.equal(state.phase, phase, JSON.stringify(messages));
        assert.equal(state.account, account, JSON.stringify(messages));
        assert.deepEqual(sent, commands, JSON.stringify(messages));
    }
    // The feed was a Corvana user's: a player alone neither keeps it nor takes one.
    const playerOnly = run([signIn('signedIn'), { type: 'homeContent', sections: [section] }, signIn('playerOnly'),
        { type: 'homeContent', sections: [section] }, { type: 'retryHome' }]);
    assert.deepEqual(playerOnly.state.home, []);
    assert.equal(playerOnly.state.homeStatus, 'idle');
});

test('signing in asks for the playback state, the devices and the feed, once per sign-in', () => {
    const cases = [
        [[login(true)], ['requestPlaybackState', 'requestDevices', 'requestHome']],
        [[login(true), login(true), { type: 'expandedState', isExpanded: true }],
            ['requestPlaybackState', 'requestDevices', 'requestHome']],
        [[login(false), { type: 'startupTimeout' }, { type: 'retryHome' }], []],
        [[login(true), login(false), login(true)],
            ['requestPlaybackState', 'requestDevices', 'requestHome', 'requestPlaybackState', 'requestDevices', 'requestHome']],
    ];
    for (const [messages, commands] of cases) assert.deepEqual(run(messages).commands, commands, JSON.stringify(messages));
});

test('the feed: loaded, empty, timed out, tried again, and forgotten on sign-out', () => {
    const signedIn = run([login(true)]);
    assert.equal(signedIn.state.homeStatus, 'loading');
    assert.deepEqual(signedIn.timers, [{ afterMs: HOME_WAIT_MS, message: { type: 'homeTimeout', request: 1 } }]);

    const cases = [
        [[{ type: 'homeContent', sections: [section] }], 'loaded', 1],
        [[{ type: 'homeContent', sections: [] }], 'empty', 0],
        [[{ type: 'homeTimeout', request: 1 }], 'empty', 0],
        // A time-out of an earlier request does not end the one now out.
        [[{ type: 'homeTimeout', request: 1 }, { type: 'retryHome' }, { type: 'homeTimeout', request: 1 }], 'loading', 0],
        [[{ type: 'homeTimeout', request: 1 }, { type: 'retryHome' }, { type: 'homeTimeout', request: 2 }], 'empty', 0],
        // A late answer still shows.
        [[{ type: 'homeTimeout', request: 1 }, { type: 'homeContent', sections: [section] }], 'loaded', 1],
        [[{ type: 'homeContent', sections: [section] }, login(false)], 'idle', 0],
    ];
    for (const [messages, status, rows] of cases) {
        const { state } = run(messages, signedIn.state);
        assert.equal(state.homeStatus, status, JSON.stringify(messages));
        assert.equal(state.home.length, rows, JSON.stringify(messages));
    }
    // Trying again while a request is out sends nothing more.
    assert.deepEqual(run([{ type: 'retryHome' }], signedIn.state).commands, []);
    assert.deepEqual(run([{ type: 'homeTimeout', request: 1 }, { type: 'retryHome' }], signedIn.state).commands, ['requestHome']);
    // A feed that arrives signed out is not the page's to show.
    assert.equal(run([{ type: 'homeContent', sections: [section] }]).state.home.length, 0);
});

test('every other event replaces its part of the state, stamped with the time it arrived', () => {
    const playback = { type: 'playbackState', isActive: true };
    const devices = { type: 'deviceList', devices: [{ id: 'a' }], activeDeviceId: 'a' };
    const { state } = run([{ type: 'expandedState', isExpanded: true }, { type: 'activeDevice', isLocal: false },
        { type: 'displayState', isPinnedOnly: true, opacity: 0.4 }, devices, playback]);
    assert.equal(state.expanded, true);
    assert.equal(state.pinnedOnly, true);
    assert.equal(state.opacity, 0.4);
    assert.equal(state.activeDeviceIsLocal, false);
    assert.equal(state.devices, devices.devices);
    assert.equal(state.activeDeviceId, 'a');
    assert.equal(state.playback, playback);
    assert.equal(state.playbackReceivedAt, 4);
    // A message the store does not know leaves the very same state, so nothing is redrawn.
    assert.equal(reduce(state, { type: 'unknown' }, 9), state);
});
