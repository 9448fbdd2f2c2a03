// Values that change faster than the desktop app should hear about them (a dragged slider): the first goes
// out at once, then at most one per interval, and the last one always goes out, so the app ends where the
// player let go. Nothing runs while no value is waiting.
const pageClock = {
    now: () => performance.now(),
    // Called as methods of this object, the window's own timers would refuse the foreign receiver.
    setTimeout: (run, ms) => setTimeout(run, ms),
    clearTimeout: (timer) => clearTimeout(timer),
};

export function createThrottle(send, intervalMs, clock = pageClock) {
    let lastSentAt = -Infinity;
    let lastSent;
    let waiting;
    let hasWaiting = false;
    let timer = null;

    const sendNow = (value) => {
        hasWaiting = false;
        lastSentAt = clock.now();
        lastSent = value;
        send(value);
    };
    const sendWaiting = () => {
        timer = null;
        if (hasWaiting) sendNow(waiting);
    };

    return {
        // A new value while it changes.
        update(value) {
            const wait = lastSentAt + intervalMs - clock.now();
            if (wait <= 0 && timer === null) {
                sendNow(value);
                return;
            }
            waiting = value;
            hasWaiting = true;
            if (timer === null) timer = clock.setTimeout(sendWaiting, Math.max(0, wait));
        },
        // The value it ended at: sent now unless it was the last one sent.
        finish(value) {
            if (timer !== null) {
                clock.clearTimeout(timer);
                timer = null;
            }
            hasWaiting = false;
            if (value !== lastSent) sendNow(value);
            lastSent = undefined;
            lastSentAt = -Infinity;
        },
        // Drops a waiting value (the control was taken away).
        cancel() {
            if (timer !== null) clock.clearTimeout(timer);
            timer = null;
            hasWaiting = false;
            lastSent = undefined;
            lastSentAt = -Infinity;
        },
    };
}
