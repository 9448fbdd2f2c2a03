// The window moves when the player drags an empty area of the page, as it does by the host's margins in
// the native front end: a press of the main mouse button on anything that is not a control asks the host
// to move the window with the pointer, and the host takes the pointer from there. The device sheet is a
// dialog over the widget, not a place to drag it by.
const NOT_EMPTY = 'button, a, input, select, textarea, [role="slider"], [tabindex], .sheet-layer';

export function isEmptyArea(target) {
    return !(target instanceof Element) || !target.closest(NOT_EMPTY);
}

export function startWindowDrags(send) {
    document.addEventListener('pointerdown', (event) => {
        if (event.pointerType === 'mouse' && event.button === 0 && isEmptyArea(event.target)) send('startWindowMove');
    });
}
