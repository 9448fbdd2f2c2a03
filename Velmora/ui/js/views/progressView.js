// The progress bar and the two times beside it. Between pushes both move on by themselves from the
// position, duration and speed they were given, at each whole second of playback: the elapsed time then
// changes, and the bar moves if it has reached another whole pixel. So the page draws a frame a second
// at most (a continuous animation of the bar would draw every frame, for moves nobody can see), and a
// long item's bar moves only as often as it gains a pixel. While paused nothing runs at all. Clicking or
// dragging the bar seeks, a few commands a second at most, then the final one.
import { setText } from '../dom.js';
import { formatTime, isPlaying, msUntilNextSecond, positionAt } from '../playback.js';
import { createThrottle } from '../throttle.js';
import { Slider } from './slider.js';

const SEEK_INTERVAL_MS = 250;

export class ProgressView {
    constructor({ bar, elapsed, duration }, send) {
        this.elapsed = elapsed;
        this.duration = duration;
        this.playback = null;
        this.receivedAt = 0;
        this.tick = null;
        const seek = createThrottle((ms) => send(`seekTo:${Math.round(ms)}`), SEEK_INTERVAL_MS);
        this.slider = new Slider(bar, {
            label: 'Playback position',
            step: 5000,
            bigStep: 15000,
            describe: (value, max) => ({
                now: Math.floor(value / 1000),
                max: Math.floor(max / 1000),
                text: `${formatTime(value)} of ${formatTime(max)}`,
            }),
            onInput: (ms) => {
                this.stop();
                setText(this.elapsed, formatTime(ms));
                seek.update(ms);
            },
            onCommit: (ms) => {
                seek.finish(ms);
                // Until the desktop app reports the new position, the bar goes on from where it was let go.
                if (this.playback && this.playback.timing) {
                    this.playback = { ...this.playback, timing: { ...this.playback.timing, position: ms } };
                    this.receivedAt = performance.now();
                    this.run();
                }
            },
        });
    }

    show(playback, receivedAt, seekable) {
        this.playback = playback;
        this.receivedAt = receivedAt;
        this.slider.setEnabled(seekable);
        this.run();
    }

    run() {
        this.stop();
        const playback = this.playback;
        const timing = playback && playback.timing;
        if (!timing) {
            // Nothing to measure: an empty bar and no times rather than a misleading 0:00.
            this.slider.show(0, 1);
            setText(this.elapsed, '');
            setText(this.duration, '');
            return;
        }
        const now = performance.now();
        const position = positionAt(playback, this.receivedAt, now);
        setText(this.duration, formatTime(timing.duration));
        if (this.slider.dragging || this.slider.keyboardValue !== null) return;
        this.slider.show(position, timing.duration);
        setText(this.elapsed, formatTime(position));
        if (!isPlaying(playback) || timing.speed <= 0 || position >= timing.duration) return;
        this.scheduleTick(position, timing.speed);
    }

    // The elapsed time and the bar, at each whole second of playback.
    scheduleTick(position, speed) {
        this.tick = setTimeout(() => {
            this.tick = null;
            const now = positionAt(this.playback, this.receivedAt, performance.now());
            setText(this.elapsed, formatTime(now));
            this.slider.show(now, this.playback.timing.duration);
            if (now < this.playback.timing.duration) this.scheduleTick(now, speed);
        }, msUntilNextSecond(position, speed));
    }

    stop() {
        if (this.tick !== null) clearTimeout(this.tick);
        this.tick = null;
    }
}
