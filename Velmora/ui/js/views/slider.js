// A horizontal slider (the progress bar, the volume): an ARIA slider that the pointer drags or clicks and
// the keyboard moves (arrows, Page Up/Down, Home, End). Values run from 0 to max. While the player drags
// it shows the player's value, whatever the desktop app reports meanwhile; each change goes to onInput,
// and the value the player settles on to onCommit.
import { element, setAttribute, setClass } from '../dom.js';

// translateX of a bar as wide as the track whose right end marks the fraction.
const railTransform = (fraction) => `translateX(${(Math.min(1, Math.max(0, fraction)) - 1) * 100}%)`;

// The fraction of a track `width` pixels wide that ends on the whole pixel nearest to `fraction`; the
// fraction itself while the track has no width (hidden).
export function wholePixelFraction(fraction, width) {
    const clamped = Math.min(1, Math.max(0, fraction));
    return width > 0 ? Math.round(clamped * width) / width : clamped;
}

export class Slider {
    constructor(root, { label, step, bigStep, describe, onInput, onCommit }) {
        this.root = root;
        this.step = step;
        this.bigStep = bigStep;
        this.describe = describe;
        this.onInput = onInput;
        this.onCommit = onCommit;
        this.max = 1;
        this.value = 0;
        // The track's width, kept by an observer rather than read per value: reading it after a change of
        // the page would lay the page out there and then, in the middle of handling a push.
        this.width = 0;
        // Where the bar was last drawn: a new value that ends on the same pixel draws nothing.
        this.drawnFraction = null;
        this.enabled = false;
        this.dragging = false;
        this.keyboardValue = null;

        this.fill = element('div', { className: 'slider-fill' });
        this.rail = element('div', { className: 'slider-rail' }, element('div', { className: 'slider-thumb' }));
        root.classList.add('slider');
        root.replaceChildren(element('div', { className: 'slider-track' }, this.fill), this.rail);
        root.setAttribute('role', 'slider');
        root.setAttribute('aria-label', label);
        root.setAttribute('aria-valuemin', '0');
        root.setAttribute('aria-orientation', 'horizontal');

        new ResizeObserver((entries) => {
            this.width = entries[entries.length - 1].contentRect.width;
            this.place(this.value);
        }).observe(root);

        root.addEventListener('pointerdown', (event) => this.pointerDown(event));
        root.addEventListener('pointermove', (event) => this.pointerMove(event));
        root.addEventListener('pointerup', (event) => this.pointerUp(event));
        root.addEventListener('pointercancel', () => this.endDrag(null));
        root.addEventListener('lostpointercapture', () => this.endDrag(null));
        root.addEventListener('keydown', (event) => this.keyDown(event));
        root.addEventListener('keyup', () => this.keyUp());
        root.addEventListener('blur', () => this.keyUp());
        this.setEnabled(false);
    }

    setEnabled(enabled) {
        if (!enabled && this.enabled) this.endDrag(null);
        this.enabled = enabled;
        setAttribute(this.root, 'aria-disabled', enabled ? null : 'true');
        setAttribute(this.root, 'tabindex', enabled ? '0' : '-1');
        setClass(this.root, 'disabled', !enabled);
    }

    // Shows a value the desktop app reported; the player's own value wins while the player moves it.
    show(value, max) {
        this.max = max > 0 ? max : 1;
        if (this.dragging || this.keyboardValue !== null) return;
        this.place(value);
    }

    place(value) {
        this.value = Math.min(this.max, Math.max(0, value));
        const fraction = wholePixelFraction(this.value / this.max, this.width);
        if (fraction !== this.drawnFraction) {
            this.drawnFraction = fraction;
            for (const part of [this.fill, this.rail]) part.style.transform = railTransform(fraction);
        }
        this.describeValue();
    }

    // The ARIA value, in whole units of the description, so that it changes no more often than a reader
    // would say it.
    describeValue() {
        const { now, max, text } = this.describe(this.value, this.max);
        setAttribute(this.root, 'aria-valuemax', max);
        setAttribute(this.root, 'aria-valuenow', now);
        setAttribute(this.root, 'aria-valuetext', text);
    }

    valueAt(clientX) {
        const box = this.root.getBoundingClientRect();
        const fraction = box.width > 0 ? (clientX - box.left) / box.width : 0;
        return Math.min(1, Math.max(0, fraction)) * this.max;
    }

    pointerDown(event) {
        if (!this.enabled || event.button !== 0) return;
        event.preventDefault();
        this.root.focus({ preventScroll: true });
        this.root.setPointerCapture(event.pointerId);
        this.dragging = true;
        setClass(this.root, 'dragging', true);
        this.input(this.valueAt(event.clientX));
    }

    pointerMove(event) {
        if (this.dragging) this.input(this.valueAt(event.clientX));
    }

    pointerUp(event) {
        if (this.dragging) this.endDrag(this.valueAt(event.clientX));
    }

    endDrag(value) {
        if (!this.dragging) return;
        this.dragging = false;
        setClass(this.root, 'dragging', false);
        this.commit(value === null ? this.value : value);
    }

    keyDown(event) {
        if (!this.enabled) return;
        const from = this.keyboardValue ?? this.value;
        const moves = {
            ArrowLeft: from - this.step, ArrowDown: from - this.step,
            ArrowRight: from + this.step, ArrowUp: from + this.step,
            PageDown: from - this.bigStep, PageUp: from + this.bigStep,
            Home: 0, End: this.max,
        };
        if (!(event.key in moves)) return;
        event.preventDefault();
        this.keyboardValue = Math.min(this.max, Math.max(0, moves[event.key]));
        this.input(this.keyboardValue);
    }

    // A held key repeats; the value is settled when it is let go.
    keyUp() {
        if (this.keyboardValue === null) return;
        const value = this.keyboardValue;
        this.keyboardValue = null;
        this.commit(value);
    }

    input(value) {
        this.place(value);
        this.onInput(this.value);
    }

    commit(value) {
        this.place(value);
        this.onCommit(this.value);
    }
}
