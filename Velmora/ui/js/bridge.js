// The page's end of the bridge to the native side: window.chrome.webview carries one text per message both
// ways. Commands go out as plain texts; events come in as JSON texts and are handed on only once they
// are read as one of the known events (events.js). Nothing an event holds can throw out of the listener.
import { parseEvent } from './events.js';

export function connectBridge(webview, onEvent) {
    if (!webview || typeof webview.postMessage !== 'function') {
        throw new Error('the page runs without window.chrome.webview');
    }
    webview.addEventListener('message', (message) => {
        const event = parseEvent(message.data);
        if (!event) return;
        try {
            onEvent(event);
        } catch (error) {
            // A fault of the page itself, not of the event: say so, and stay ready for the next one.
            console.error(`velmora: handling "${event.type}" failed: ${error && error.stack ? error.stack : error}`);
        }
    });
    return {
        send(command) {
            webview.postMessage(command);
        },
    };
}
