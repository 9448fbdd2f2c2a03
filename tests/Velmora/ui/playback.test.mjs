// What each control shows and sends for a playback state, the position between pushes, and the
// throttle of dragged sliders.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { controlsFor, formatTime, msUntilNextSecond, nextRepeatMode, positionAt } from '../../../Velmora/ui/js/playback.js';
import { createThrottle } from '../../../Velmora/ui/js/throttle.js';

const allowed = {
    disallowPausing: false, disallowResuming: false, disallowSeeking: false, disallowSkippingPrev: false,
    disallowSkippingNext: false, disallowTogglingShuffle: false, disallowTogglingRepeatContext: false,
    disallowTogglingRepeatTrack: false,
};
const state = (members = {}, restrictions = {}) => ({
    isActive: true, isPaused: false, timing: { position: 1000, duration: 10000, speed: 1 },
    track: { uri: 'corvana:track:1', isInLibrary: false, canAddToLibrary: true },
    restrictions: { ...allowed, ...restrictions },
    options: { shuffling: false, repeating: false, repeatingTrack: false },
    volume: 0.5, isEpisodeContent: false, ...members,
});
const shown = (control) => `${control.enabled ? '' : 'disabled '}${control.icon} ${control.command}`;

test('each control honours the restrictions of the playback state', () => {
    const cases = [
        // [state, control, shown]
        [null, 'playPause', 'disabled play null'],
        [null, 'next', 'disabled next null'],
        [state(), 'playPause', 'pause pausePlayback'],
        [state({}, { disallowPausing: true }), 'playPause', 'disabled pause pausePlayback'],
        [state({ isPaused: true }), 'playPause', 'play resumePlayback'],
        [state({ isPaused: true }, { disallowResuming: true }), 'playPause', 'disabled play resumePlayback'],
        [state({ isActive: false, isPaused: true, track: null }), 'playPause', 'disabled play resumePlayback'],
        [state({ isActive: false }), 'playPause', 'play resumePlayback'],
        [state(), 'previous', 'previous skipPrevious'],
        [state({}, { disallowSkippingPrev: true }), 'previous', 'disabled previous skipPrevious'],
        [state({}, { disallowSkippingNext: true }), 'next', 'disabled next skipNext'],
        [state({ isEpisodeContent: true }), 'previous', 'skipBack15 seekBackward15'],
        [state({ isEpisodeContent: true }), 'next', 'skipForward15 seekForward15'],
        [state({ isEpisodeContent: true }, { disallowSeeking: true }), 'next', 'disabled skipForward15 seekForward15'],
        [state({ isEpisodeContent: true }, { disallowSkippingNext: true }), 'next', 'skipForward15 seekForward15'],
        [state(), 'shuffle', 'shuffle setShuffle:true'],
        [state({ options: { shuffling: true } }), 'shuffle', 'shuffle setShuffle:false'],
        [state({}, { disallowTogglingShuffle: true }), 'shuffle', 'disabled shuffle setShuffle:true'],
        [state(), 'repeat', 'repeat setRepeat:context'],
        [state({ options: { repeating: true } }), 'repeat', 'repeat setRepeat:track'],
        [state({ options: { repeating: true, repeatingTrack: true } }), 'repeat', 'repeatTrack setRepeat:off'],
        [state({}, { disallowTogglingRepeatContext: true, disallowTogglingRepeatTrack: true }), 'repeat', 'disabled repeat null'],
        [state(), 'like', 'heart likeTrack:corvana:track:1'],
        [state({ track: { uri: 'corvana:track:1', isInLibrary: true } }), 'like', 'heartFilled unlikeTrack:corvana:track:1'],
        [state({ track: { uri: 'corvana:ad:1', canAddToLibrary: false } }), 'like', 'disabled heart null'],
        [state({ track: { uri: '', canAddToLibrary: true } }), 'like', 'disabled heart null'],
        [state({ track: null }), 'like', 'disabled heart null'],
    ];
    for (const [playback, name, expected] of cases) {
        assert.equal(shown(controlsFor(playback)[name]), expected, `${name} of ${JSON.stringify(playback)}`);
    }
    const seekable = [[null, false], [state(), true], [state({}, { disallowSeeking: true }), false], [state({ timing: null }), false]];
    for (const [playback, expected] of seekable) assert.equal(controlsFor(playback).seekable, expected);
});

test('repeat goes off, all, one and round again, past the modes the desktop app does not allow', () => {
    const r = (members) => ({ ...allowed, ...members });
    const cases = [
        ['off', r(), 'context'], ['context', r(), 'track'], ['track', r(), 'off'],
        ['off', r({ disallowTogglingRepeatContext: true }), 'track'],
        ['context', r({ disallowTogglingRepeatTrack: true }), 'off'],
        ['track', r({ disallowTogglingRepeatContext: true }), 'off'],
        ['off', r({ disallowTogglingRepeatTrack: true }), 'context'],
        ['context', r({ disallowTogglingRepeatContext: true }), null],
        ['off', r({ disallowTogglingRepeatContext: true, disallowTogglingRepeatTrack: true }), null],
    ];
    for (const [mode, restrictions, expected] of cases) {
        assert.equal(nextRepeatMode(mode, restrictions), expected, `${mode} ${JSON.stringify(restrictions)}`);
    }
});

test('the position moves on at the playback speed while playing, and stops at the end', () => {
    const cases = [
        [state(), 500, 1500], [state({ isPaused: true }), 5000, 1000], [state({ isActive: false }), 5000, 1000],
        [state({ timing: { position: 1000, duration: 10000, speed: 2 } }), 500, 2000],
        [state({ timing: { position: 1000, duration: 10000, speed: 0 } }), 500, 1000],
        [state(), 60000, 10000], [state(), -500, 1000], [state({ timing: null }), 500, 0], [null, 500, 0],
    ];
    for (const [playback, elapsed, expected] of cases) {
        assert.equal(positionAt(playback, 100, 100 + elapsed), expected, `${JSON.stringify(playback)} +${elapsed}`);
    }
});

test('the elapsed time is rewritten just past each whole second, and a crawling speed never spins a timer', () => {
    // [position, speed, wait or bounds]: a timer given more than 2^31 - 1 ms (or Infinity) fires at once.
    const cases = [[1500, 1, 501], [1500, 2, 251], [0, 1, 1001], [999.5, 1, 16], [1500, 1e6, 16]];
    for (const [position, speed, wait] of cases) assert.equal(msUntilNextSecond(position, speed), wait, `${position} ${speed}`);
    for (const speed of [1e-7, 1e-300, Number.MIN_VALUE]) {
        const wait = msUntilNextSecond(1500, speed);
        assert.ok(wait >= 1000 && wait <= 2 ** 31 - 1, `${speed}: ${wait}`);
    }
});

test('times read as m:ss, and h:mm:ss from an hour on', () => {
    const cases = [[0, '0:00'], [999, '0:00'], [61000, '1:01'], [599999, '9:59'], [3600000, '1:00:00'],
        [3725000, '1:02:05'], [-5, '0:00'], [NaN, '0:00']];
    for (const [ms, text] of cases) assert.equal(formatTime(ms), text, String(ms));
});

test('a dragged value goes out at most once per interval, and where it ends always goes out', () => {
    let now = 0;
    let timer = null;
    const clock = {
        now: () => now,
        setTimeout: (fn, ms) => { timer = { fn, at: now + ms }; return timer; },
        clearTimeout: (t) => { if (timer === t) timer = null; },
    };
    const advance = (ms) => {
        const until = now + ms;
        while (timer && timer.at <= until) {
            now = timer.at;
            const { fn } = timer;
            timer = null;
            fn();
        }
        now = until;
    };
    const sent = [];
    const throttle = createThrottle((value) => sent.push(`${now}:${value}`), 250, clock);

    // A drag of two seconds with a move every 10 ms: the first at once, then one per 250 ms, then the end.
    for (let step = 0; step <= 200; step += 1) {
        throttle.update(step);
        advance(10);
    }
    throttle.finish(200);
    assert.ok(sent.length <= 2000 / 250 + 2, sent.join(' '));
    assert.equal(sent[0], '0:0');
    assert.equal(sent[sent.length - 1].split(':')[1], '200');
    const times = sent.map((entry) => Number(entry.split(':')[0]));
    for (let i = 1; i < times.length - 1; i += 1) assert.ok(times[i] - times[i - 1] >= 250, sent.join(' '));

    // Letting go where the last value already went sends nothing more; nothing waits afterwards.
    sent.length = 0;
    throttle.update(5);
    throttle.finish(5);
    assert.deepEqual(sent, [`${now}:5`]);
    assert.equal(timer, null);

    // A value left waiting goes out after the interval even without an end.
    sent.length = 0;
    throttle.update(1);
    throttle.update(2);
    advance(300);
    assert.deepEqual(sent.map((entry) => entry.split(':')[1]), ['1', '2']);
    throttle.cancel();
    throttle.update(3);
    assert.equal(sent.length, 3);
});
