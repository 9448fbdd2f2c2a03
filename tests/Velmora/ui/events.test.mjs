// The page's reading of the native side's events: what it accepts, and that nothing it is sent can make
// it throw or let markup, scripts or foreign URLs through.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { LIMITS, imageUrl, parseEvent } from '../../../Velmora/ui/js/events.js';

const json = (value) => JSON.stringify(value);

const playbackState = (members = {}) => ({
    type: 'playbackState', isActive: true, isPaused: false, position: 1000, duration: 5000, playbackSpeed: 1,
    track: { uri: 'corvana:track:1', name: 'Song', artist: 'Band', album: 'Album', image: 'https://img/1.png',
        isInLibrary: true, canAddToLibrary: true },
    restrictions: { disallowSeeking: true }, options: { shuffling: true }, volume: 0.4, isEpisodeContent: false,
    ...members,
});

test('events that are not one of the protocol are dropped whole', () => {
    const dropped = [
        undefined, 42, '', 'not json', '{"type":', 'null', '[]', '"loggedIn"', json({}), json({ type: 7 }),
        json({ type: 'unknown' }), json({ type: 'toString' }), json({ type: '__proto__' }), json({ type: 'constructor' }),
        json({ type: 'login_state_changed' }), json({ type: 'login_state_changed', loggedIn: 'true' }),
        json({ type: 'login_state_changed', loggedIn: 1 }), json({ type: 'expandedState', isExpanded: null }),
        json({ type: 'displayState', isPinnedOnly: true }), json({ type: 'displayState', isPinnedOnly: 'yes', opacity: 1 }),
        json({ type: 'displayState', isPinnedOnly: false, opacity: '0.5' }),
        json({ type: 'activeDevice' }), json({ type: 'deviceList', devices: {} }), json({ type: 'deviceList' }),
        json({ type: 'playbackState', isActive: true }), json({ type: 'playbackState', isActive: 'yes', isPaused: false }),
        json({ type: 'homeContent', sections: 'x' }), json({ type: 'homeContent' }),
        'x'.repeat(LIMITS.messageChars + 1),
    ];
    for (const message of dropped) assert.equal(parseEvent(message), null, String(message).slice(0, 80));
});

test('the simple events carry their flag', () => {
    const cases = [
        [{ type: 'login_state_changed', loggedIn: true, extra: '<b>' },
            { type: 'login_state_changed', loggedIn: true, signInState: 'signedIn' }],
        [{ type: 'login_state_changed', loggedIn: false }, { type: 'login_state_changed', loggedIn: false, signInState: 'signedOut' }],
        [{ type: 'login_state_changed', loggedIn: false, signInState: 'playerOnly' },
            { type: 'login_state_changed', loggedIn: false, signInState: 'playerOnly' }],
        [{ type: 'login_state_changed', loggedIn: false, signInState: 'signingIn' },
            { type: 'login_state_changed', loggedIn: false, signInState: 'signingIn' }],
        [{ type: 'login_state_changed', loggedIn: true, signInState: 'admin' },
            { type: 'login_state_changed', loggedIn: true, signInState: 'signedIn' }],
        [{ type: 'expandedState', isExpanded: false }, { type: 'expandedState', isExpanded: false }],
        [{ type: 'activeDevice', isLocal: false }, { type: 'activeDevice', isLocal: false }],
        [{ type: 'displayState', isPinnedOnly: true, opacity: 0.3 }, { type: 'displayState', isPinnedOnly: true, opacity: 0.3 }],
        [{ type: 'displayState', isPinnedOnly: true, opacity: 0 }, { type: 'displayState', isPinnedOnly: true, opacity: 0.1 }],
        [{ type: 'displayState', isPinnedOnly: false, opacity: 7 }, { type: 'displayState', isPinnedOnly: false, opacity: 1 }],
    ];
    for (const [sent, read] of cases) assert.deepEqual(parseEvent(json(sent)), read);
});

test("a local player's cover is taken only from the page's own origin, never as a file", () => {
    globalThis.location = new URL('velmora-app://widget.invalid/index.html');
    try {
        const cases = [
            [{ image: 'file:///home/a/cover.png', localImage: 'velmora-app://widget.invalid/local-cover/3' },
                'velmora-app://widget.invalid/local-cover/3'],
            [{ image: 'file:///home/a/cover.png' }, ''],
            [{ localImage: 'file:///home/a/cover.png' }, ''],
            [{ localImage: 'velmora-app://other.invalid/local-cover/3' }, ''],
            [{ localImage: 'velmora-app://widget.invalid/js/main.js' }, ''],
            [{ localImage: 'velmora-app://widget.invalid/local-cover/3?x=1' }, ''],
            [{ localImage: 'https://img/1.png' }, ''],
            [{ image: 'https://img/1.png', localImage: 'velmora-app://widget.invalid/local-cover/3' }, 'https://img/1.png'],
        ];
        for (const [track, image] of cases) {
            assert.equal(parseEvent(json(playbackState({ track: { name: 'x', ...track } }))).track.image, image, json(track));
        }
    } finally {
        delete globalThis.location;
    }
});

test('a playback state keeps what it holds and fills what it lacks', () => {
    const full = parseEvent(json(playbackState()));
    assert.deepEqual(full.timing, { position: 1000, duration: 5000, speed: 1 });
    assert.equal(full.track.name, 'Song');
    assert.equal(full.track.image, 'https://img/1.png');
    assert.equal(full.restrictions.disallowSeeking, true);
    assert.equal(full.restrictions.disallowPausing, false);
    assert.deepEqual(full.options, { shuffling: true, repeating: false, repeatingTrack: false });
    assert.equal(full.volume, 0.4);

    const cases = [
        // [members, what to look at, expected]
        [{ position: undefined }, (e) => e.timing, null],
        [{ duration: 'long' }, (e) => e.timing, null],
        [{ duration: 0 }, (e) => e.timing, null],
        [{ position: -5 }, (e) => e.timing.position, 0],
        [{ position: 9000 }, (e) => e.timing.position, 5000],
        [{ playbackSpeed: 'fast' }, (e) => e.timing.speed, 1],
        [{ playbackSpeed: -1 }, (e) => e.timing.speed, 1],
        [{ playbackSpeed: 1.5 }, (e) => e.timing.speed, 1.5],
        [{ track: 'song' }, (e) => e.track, null],
        [{ track: { name: 5, artist: ['x'] } }, (e) => [e.track.name, e.track.artist, e.track.uri], ['', '', '']],
        [{ track: { image: 'javascript:alert(1)' } }, (e) => e.track.image, ''],
        [{ track: { image: 'http://img/1.png' } }, (e) => e.track.image, ''],
        [{ track: { name: 'x'.repeat(5000) } }, (e) => e.track.name.length, LIMITS.textChars],
        [{ track: { name: `${'x'.repeat(LIMITS.textChars - 1)}\u{1F3B5}x` } }, (e) => e.track.name, 'x'.repeat(LIMITS.textChars - 1)],
        [{ restrictions: 'none' }, (e) => Object.values(e.restrictions).some(Boolean), false],
        [{ restrictions: { disallowPausing: 'true' } }, (e) => e.restrictions.disallowPausing, false],
        [{ options: null }, (e) => e.options.shuffling, false],
        [{ volume: 3 }, (e) => e.volume, 1],
        [{ volume: 'loud' }, (e) => e.volume, null],
        [{ isEpisodeContent: 'yes' }, (e) => e.isEpisodeContent, false],
    ];
    for (const [members, look, expected] of cases) {
        assert.deepEqual(look(parseEvent(json(playbackState(members)))), expected, json(members));
    }
});

test('a device list keeps well-formed devices only', () => {
    const event = parseEvent(json({
        type: 'deviceList', activeDeviceId: '',
        devices: [
            { id: 'a', name: 'Desk', deviceType: 'computer', isActive: true, isLocal: true, isSelf: true, volume: 0.5, supportsVolume: true },
            { id: '', name: 'no id' }, 'device', null, { name: 'no id at all' },
            { id: 'b', name: { text: 'x' }, volume: 250, supportsVolume: 'yes' },
            { id: `c${'x'.repeat(LIMITS.idChars)}`, name: 'an id that cannot be sent back whole' },
        ],
    }));
    assert.equal(event.activeDeviceId, null);
    assert.deepEqual(event.devices.map((d) => d.id), ['a', 'b']);
    assert.deepEqual([event.devices[1].name, event.devices[1].volume, event.devices[1].supportsVolume], ['', 1, false]);
    const many = parseEvent(json({ type: 'deviceList', activeDeviceId: 'd0', devices: Array.from({ length: 500 }, (_, i) => ({ id: `d${i}` })) }));
    assert.equal(many.devices.length, LIMITS.devices);
    assert.equal(many.activeDeviceId, 'd0');
});

test('home items become tiles: a picture over HTTPS, a name and a line under it', () => {
    const item = (members) => ({ name: 'N', type: 'playlist', uri: 'corvana:playlist:1', images: [], ...members });
    const event = parseEvent(json({ type: 'homeContent', sections: [{ name: 'Row', items: [
        item({ artists: [{ name: 'A' }, { name: 'B' }], owner: { display_name: 'O' } }),
        item({ owner: { display_name: 'O' }, description: 'D' }),
        item({ show: { name: 'S' } }),
        item({ description: 'D' }),
        item({ images: [{ url: 'data:image/png;base64,AAAA' }, { url: 'https://img/2.png' }] }),
        item({ images: 'none', album: { images: [{ url: 'https://img/album.png' }] } }),
        item({ type: 'artist', name: '<img src=x onerror=alert(1)>' }),
        item({ uri: `corvana:playlist:${'7'.repeat(LIMITS.idChars)}` }),
        'not an item',
    ] }, { name: 'No items', items: [] }, { name: 'Bad', items: 'x' }, 7] }));
    assert.equal(event.sections.length, 1);
    const tiles = event.sections[0].items;
    assert.deepEqual(tiles.map((t) => t.subtitle), ['A, B', 'O', 'S', 'D', '', '', '', '']);
    assert.deepEqual(tiles.map((t) => t.image), ['', '', '', '', 'https://img/2.png', 'https://img/album.png', '', '']);
    // A tile plays exactly its context, or nothing.
    assert.deepEqual(tiles.map((t) => t.uri), [...Array(7).fill('corvana:playlist:1'), '']);
    assert.equal(tiles[6].name, '<img src=x onerror=alert(1)>');
    assert.equal(tiles[6].round, true);
});

test('a feed of a megabyte and more is read as far as anyone scrolls', () => {
    const sections = Array.from({ length: 100 }, (_, s) => ({
        name: `Row ${s}`,
        items: Array.from({ length: 100 }, (_, i) => ({ name: `Item ${i} ${'x'.repeat(80)}`, uri: `corvana:x:${i}`, images: [] })),
    }));
    const message = json({ type: 'homeContent', sections });
    assert.ok(message.length > 1024 * 1024);
    const event = parseEvent(message);
    assert.equal(event.sections.length, LIMITS.sections);
    assert.ok(event.sections.every((section) => section.items.length === LIMITS.itemsPerSection));
});

test('only HTTPS URLs are images', () => {
    const cases = [
        ['https://127.0.0.1:8443/images/a.png', 'https://127.0.0.1:8443/images/a.png'],
        ['HTTPS://Example.com/a.png', 'https://example.com/a.png'],
        ['http://example.com/a.png', ''], ['javascript:alert(1)', ''], ['data:image/png;base64,AA', ''],
        ['file:///etc/passwd', ''], ['velmora-app://widget.invalid/x.png', ''], ['/relative.png', ''],
        ['', ''], [null, ''], [42, ''], [`https://x/${'a'.repeat(3000)}`, ''],
    ];
    for (const [value, expected] of cases) assert.equal(imageUrl(value), expected, String(value));
});
