// The page: events come in from the native side and change the state; the view draws the state; the
// player's presses go out as commands. "appReady" tells the native side the page listens; nothing else is
// sent before the player acts or an event calls for it.
import { connectBridge } from './bridge.js';
import { ICON_NAMES, setIcon } from './icons.js';
import { STARTUP_WAIT_MS, effectsOf, initialState, reduce } from './store.js';
import { WidgetView } from './views/widgetView.js';
import { startWindowDrags } from './windowDrag.js';

let state = initialState;
let bridge = null;
let view = null;

function dispatch(message) {
    const before = state;
    state = reduce(state, message, performance.now());
    if (state === before) return;
    const { commands, timers } = effectsOf(before, state);
    for (const command of commands) bridge.send(command);
    for (const { afterMs, message: later } of timers) setTimeout(() => dispatch(later), afterMs);
    view.render(state);
}

function start() {
    for (const holder of document.querySelectorAll('[data-icon]')) {
        if (ICON_NAMES.includes(holder.dataset.icon)) setIcon(holder, holder.dataset.icon);
    }
    bridge = connectBridge(window.chrome && window.chrome.webview, dispatch);
    view = new WidgetView({ send: (command) => bridge.send(command), dispatch });
    view.render(state);
    startWindowDrags((command) => bridge.send(command));
    setTimeout(() => dispatch({ type: 'startupTimeout' }), STARTUP_WAIT_MS);
    bridge.send('appReady');
}

start();
