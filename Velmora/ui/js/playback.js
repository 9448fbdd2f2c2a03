// What the now-playing controls show and send, derived from the last playback state alone: each control
// honours that state's restrictions, and a control with nothing to act on is disabled.

const REPEAT_CYCLE = ['off', 'context', 'track'];
const REPEAT_LABELS = { off: 'Repeat off', context: 'Repeat all', track: 'Repeat one' };

export function repeatModeOf(options) {
    if (options.repeatingTrack) return 'track';
    return options.repeating ? 'context' : 'off';
}

// The restrictions a change of repeat mode runs into: it toggles repeat of the context when either side is
// 'context', and repeat of the track when either side is 'track'.
function repeatChangeAllowed(from, to, restrictions) {
    const involves = (mode) => from === mode || to === mode;
    return !(involves('context') && restrictions.disallowTogglingRepeatContext)
        && !(involves('track') && restrictions.disallowTogglingRepeatTrack);
}

// The mode a press of the repeat button goes to: the next one in off, context, track that the restrictions
// allow, or null when none is.
export function nextRepeatMode(mode, restrictions) {
    const at = REPEAT_CYCLE.indexOf(mode);
    for (let step = 1; step < REPEAT_CYCLE.length; step += 1) {
        const candidate = REPEAT_CYCLE[(at + step) % REPEAT_CYCLE.length];
        if (repeatChangeAllowed(mode, candidate, restrictions)) return candidate;
    }
    return null;
}

export function isPlaying(playback) {
    return Boolean(playback && playback.isActive && !playback.isPaused);
}

// The position in milliseconds `now` (page clock) when the state arrived at `receivedAt`: it moves on at
// the playback speed while playing, and never past the duration.
export function positionAt(playback, receivedAt, now) {
    if (!playback || !playback.timing) return 0;
    const { position, duration, speed } = playback.timing;
    const moved = isPlaying(playback) ? Math.max(0, now - receivedAt) * speed : 0;
    return Math.min(duration, position + moved);
}

// The longest wait a timer keeps: a longer one overflows, and the timer fires at once.
const LONGEST_TIMER_MS = 2 ** 31 - 1;

// Page time from `position` until the elapsed time reaches its next whole second at `speed` (above 0): no
// shorter than a frame, and no longer than a timer can wait, since a speed near 0 would otherwise give an
// endless wait that fires at once, again and again.
export function msUntilNextSecond(position, speed) {
    const wait = (1000 - (position % 1000)) / speed + 1;
    return Math.min(LONGEST_TIMER_MS, Math.max(16, wait));
}

// m:ss, or h:mm:ss from an hour on.
export function formatTime(ms) {
    const total = Math.floor(Math.max(0, Number.isFinite(ms) ? ms : 0) / 1000);
    const hours = Math.floor(total / 3600);
    const minutes = Math.floor((total % 3600) / 60);
    const seconds = String(total % 60).padStart(2, '0');
    return hours ? `${hours}:${String(minutes).padStart(2, '0')}:${seconds}` : `${minutes}:${seconds}`;
}

const control = (icon, label, command, enabled) => ({ icon, label, command, enabled: Boolean(enabled && command) });

// Every control's look and command. A command is null where the control does nothing.
export function controlsFor(playback) {
    if (!playback) {
        return {
            playPause: control('play', 'Play', null, false),
            previous: control('previous', 'Previous', null, false),
            next: control('next', 'Next', null, false),
            shuffle: { ...control('shuffle', 'Shuffle', null, false), on: false, pressed: false },
            repeat: { ...control('repeat', REPEAT_LABELS.off, null, false), on: false },
            like: { ...control('heart', 'Add to library', null, false), on: false },
            seekable: false,
        };
    }
    const r = playback.restrictions;
    const track = playback.track;
    const hasSomething = playback.isActive || track !== null;
    const playing = isPlaying(playback);
    const episode = playback.isEpisodeContent;

    const playPause = playing
        ? control('pause', 'Pause', 'pausePlayback', !r.disallowPausing)
        : control('play', 'Play', 'resumePlayback', hasSomething && !r.disallowResuming);
    // Episodes and chapters skip by 15 seconds instead of by item: that is a seek.
    const previous = episode
        ? control('skipBack15', 'Back 15 seconds', 'seekBackward15', !r.disallowSeeking)
        : control('previous', 'Previous', 'skipPrevious', hasSomething && !r.disallowSkippingPrev);
    const next = episode
        ? control('skipForward15', 'Forward 15 seconds', 'seekForward15', !r.disallowSeeking)
        : control('next', 'Next', 'skipNext', hasSomething && !r.disallowSkippingNext);

    const shuffleOn = playback.options.shuffling;
    const shuffle = {
        ...control('shuffle', 'Shuffle', `setShuffle:${!shuffleOn}`, hasSomething && !r.disallowTogglingShuffle),
        on: shuffleOn,
        pressed: shuffleOn,
    };

    const mode = repeatModeOf(playback.options);
    const nextMode = hasSomething ? nextRepeatMode(mode, r) : null;
    const repeat = {
        ...control(mode === 'track' ? 'repeatTrack' : 'repeat', REPEAT_LABELS[mode],
            nextMode && `setRepeat:${nextMode}`, true),
        on: mode !== 'off',
    };

    const inLibrary = Boolean(track && track.isInLibrary);
    const canLike = Boolean(track && track.uri && (inLibrary || track.canAddToLibrary));
    const like = {
        ...control(inLibrary ? 'heartFilled' : 'heart', inLibrary ? 'Remove from library' : 'Add to library',
            canLike ? `${inLibrary ? 'unlikeTrack' : 'likeTrack'}:${track.uri}` : null, canLike),
        on: inLibrary,
    };

    return {
        playPause, previous, next, shuffle, repeat, like,
        seekable: Boolean(playback.timing) && hasSomething && !r.disallowSeeking,
    };
}
