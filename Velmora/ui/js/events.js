// The events the native side sends, checked and turned into records the rest of the page can trust. An
// event arrives as the text of one JSON object whose "type" names it. Whatever does not hold the members
// an event needs, with the right kinds, is dropped as a whole (null); optional members of the wrong kind
// count as absent. Texts stay data: they are cut to a length nobody reads past, never interpreted.

// A feed far beyond anything the desktop app sends is still read, but only as far as a person scrolls.
export const LIMITS = Object.freeze({
    messageChars: 4 * 1024 * 1024,
    textChars: 300,
    // Ids and URIs go back to the desktop app in commands: one cut short would name something else, so a
    // longer one counts as absent.
    idChars: 1024,
    sections: 20,
    itemsPerSection: 50,
    devices: 50,
});

const isObject = (value) => typeof value === 'object' && value !== null && !Array.isArray(value);
const isBoolean = (value) => typeof value === 'boolean';
const isNumber = (value) => typeof value === 'number' && Number.isFinite(value);
// Cut where a pair of surrogates would be split: half a character shows as a box.
const text = (value) => {
    if (typeof value !== 'string') return '';
    const cut = value.slice(0, LIMITS.textChars);
    const last = cut.charCodeAt(cut.length - 1);
    return cut.length < value.length && last >= 0xD800 && last <= 0xDBFF ? cut.slice(0, -1) : cut;
};
const flag = (value) => value === true;
const fraction = (value) => (isNumber(value) ? Math.min(1, Math.max(0, value)) : null);
const list = (value, limit) => (Array.isArray(value) ? value.slice(0, limit) : []);
const id = (value) => (typeof value === 'string' && value.length <= LIMITS.idChars ? value : '');

// Covers come only over HTTPS; anything else (markup, javascript:, data:, file:) gives no image.
export function imageUrl(value) {
    if (typeof value !== 'string' || value.length > 2048) return '';
    try {
        const url = new URL(value);
        return url.protocol === 'https:' ? url.href : '';
    } catch {
        return '';
    }
}

const firstImage = (images) => {
    for (const image of list(images, 8)) {
        const url = isObject(image) ? imageUrl(image.url) : '';
        if (url) return url;
    }
    return '';
};

// Where a local player's cover is served: the page's own origin, and nowhere else on it.
export function localImageUrl(value) {
    if (typeof value !== 'string' || value.length > 2048 || typeof location === 'undefined') return '';
    try {
        const url = new URL(value);
        const own = url.protocol === location.protocol && url.host === location.host;
        return own && /^\/local-cover\/[0-9]+$/.test(url.pathname) && !url.search && !url.hash ? url.href : '';
    } catch {
        return '';
    }
}

const SIGN_IN_STATES = ['signedOut', 'signingIn', 'signedIn', 'playerOnly'];

// "signInState" says more than "loggedIn": signing in, or a player without a Corvana account. A native
// side that sends only "loggedIn" means signed in or signed out.
function readLoginState(event) {
    if (!isBoolean(event.loggedIn)) return null;
    const signInState = SIGN_IN_STATES.includes(event.signInState) ? event.signInState
        : event.loggedIn ? 'signedIn' : 'signedOut';
    return { type: event.type, loggedIn: signInState === 'signedIn', signInState };
}

function readExpandedState(event) {
    return isBoolean(event.isExpanded) ? { type: event.type, isExpanded: event.isExpanded } : null;
}

// The host's opacity goes from 0.1 (nearly see-through) to 1.
function readDisplayState(event) {
    if (!isBoolean(event.isPinnedOnly) || !isNumber(event.opacity)) return null;
    return { type: event.type, isPinnedOnly: event.isPinnedOnly, opacity: Math.min(1, Math.max(0.1, event.opacity)) };
}

function readActiveDevice(event) {
    return isBoolean(event.isLocal) ? { type: event.type, isLocal: event.isLocal } : null;
}

function readDevice(device) {
    if (!isObject(device) || id(device.id) === '') return null;
    return {
        id: device.id,
        name: text(device.name),
        deviceType: text(device.deviceType),
        isActive: flag(device.isActive),
        isLocal: flag(device.isLocal),
        isSelf: flag(device.isSelf),
        volume: fraction(device.volume) ?? 0,
        supportsVolume: flag(device.supportsVolume),
    };
}

function readDeviceList(event) {
    if (!Array.isArray(event.devices)) return null;
    const devices = list(event.devices, LIMITS.devices).map(readDevice).filter(Boolean);
    const activeDeviceId = typeof event.activeDeviceId === 'string' && event.activeDeviceId !== ''
        ? event.activeDeviceId : null;
    return { type: event.type, devices, activeDeviceId };
}

function readTrack(track) {
    if (!isObject(track)) return null;
    return {
        uri: typeof track.uri === 'string' ? track.uri : '',
        name: text(track.name),
        artist: text(track.artist),
        album: text(track.album),
        image: imageUrl(track.image) || localImageUrl(track.localImage),
        isInLibrary: flag(track.isInLibrary),
        canAddToLibrary: flag(track.canAddToLibrary),
    };
}

const RESTRICTIONS = [
    'disallowPausing', 'disallowResuming', 'disallowSeeking', 'disallowSkippingPrev', 'disallowSkippingNext',
    'disallowTogglingShuffle', 'disallowTogglingRepeatContext', 'disallowTogglingRepeatTrack',
];

function readPlaybackState(event) {
    if (!isBoolean(event.isActive) || !isBoolean(event.isPaused)) return null;
    const restrictions = {};
    const given = isObject(event.restrictions) ? event.restrictions : {};
    for (const name of RESTRICTIONS) restrictions[name] = flag(given[name]);
    const options = isObject(event.options) ? event.options : {};
    // Position and duration come together or not at all; a speed that is not a speed plays at 1.
    const timed = isNumber(event.position) && isNumber(event.duration) && event.duration > 0;
    return {
        type: event.type,
        isActive: event.isActive,
        isPaused: event.isPaused,
        timing: timed ? {
            position: Math.min(Math.max(0, event.position), event.duration),
            duration: event.duration,
            speed: isNumber(event.playbackSpeed) && event.playbackSpeed >= 0 ? event.playbackSpeed : 1,
        } : null,
        track: readTrack(event.track),
        restrictions,
        options: {
            shuffling: flag(options.shuffling),
            repeating: flag(options.repeating),
            repeatingTrack: flag(options.repeatingTrack),
        },
        volume: fraction(event.volume),
        isEpisodeContent: flag(event.isEpisodeContent),
    };
}

// The line under a tile: who made it, or what it is about.
function subtitleOf(item) {
    const artists = list(item.artists, 8).map((artist) => (isObject(artist) ? text(artist.name) : ''))
        .filter(Boolean);
    if (artists.length) return text(artists.join(', '));
    if (isObject(item.owner) && text(item.owner.display_name)) return text(item.owner.display_name);
    if (isObject(item.show) && text(item.show.name)) return text(item.show.name);
    return text(item.description);
}

function readItem(item) {
    if (!isObject(item)) return null;
    const type = text(item.type);
    return {
        name: text(item.name),
        type,
        uri: id(item.uri),
        image: firstImage(item.images) || (isObject(item.album) ? firstImage(item.album.images) : ''),
        subtitle: subtitleOf(item),
        round: type === 'artist',
    };
}

function readSection(section) {
    if (!isObject(section)) return null;
    const items = list(section.items, LIMITS.itemsPerSection).map(readItem).filter(Boolean);
    return items.length ? { name: text(section.name), items } : null;
}

function readHomeContent(event) {
    if (!Array.isArray(event.sections)) return null;
    return { type: event.type, sections: list(event.sections, LIMITS.sections).map(readSection).filter(Boolean) };
}

const READERS = new Map([
    ['login_state_changed', readLoginState],
    ['expandedState', readExpandedState],
    ['displayState', readDisplayState],
    ['activeDevice', readActiveDevice],
    ['deviceList', readDeviceList],
    ['playbackState', readPlaybackState],
    ['homeContent', readHomeContent],
]);

// The event in a message text, or null when the text is not one of the events above.
export function parseEvent(message) {
    if (typeof message !== 'string' || message.length > LIMITS.messageChars) return null;
    let event;
    try {
        event = JSON.parse(message);
    } catch {
        return null;
    }
    if (!isObject(event) || typeof event.type !== 'string') return null;
    const read = READERS.get(event.type);
    return read ? read(event) : null;
}
