// The page's icons, drawn on a 24 px grid with 2 px round strokes in the text colour (currentColor), one per
// meaning. They are built as SVG elements here rather than loaded as images, so that they take the colour
// of their button (on, off, disabled) and cost no request.

const SVG = 'http://www.w3.org/2000/svg';

// Each icon is a list of shapes: [element name, attributes]. Shapes are stroked unless they say otherwise.
const FILLED = { fill: 'currentColor', stroke: 'none' };

const ICONS = {
    play: [['path', { d: 'M8 5.2v13.6a1 1 0 0 0 1.53.85l10.9-6.8a1 1 0 0 0 0-1.7L9.53 4.35A1 1 0 0 0 8 5.2z', ...FILLED }]],
    pause: [
        ['rect', { x: 6, y: 4.5, width: 4, height: 15, rx: 1.2, ...FILLED }],
        ['rect', { x: 14, y: 4.5, width: 4, height: 15, rx: 1.2, ...FILLED }],
    ],
    previous: [
        ['path', { d: 'M5.5 5v14' }],
        ['path', { d: 'M19 6.1v11.8a1 1 0 0 1-1.55.83l-8.7-5.9a1 1 0 0 1 0-1.66l8.7-5.9A1 1 0 0 1 19 6.1z', ...FILLED }],
    ],
    next: [
        ['path', { d: 'M18.5 5v14' }],
        ['path', { d: 'M5 6.1v11.8a1 1 0 0 0 1.55.83l8.7-5.9a1 1 0 0 0 0-1.66l-8.7-5.9A1 1 0 0 0 5 6.1z', ...FILLED }],
    ],
    skipBack15: [
        ['path', { d: 'M4.5 9.5A8 8 0 1 1 4 13' }],
        ['path', { d: 'M4.5 4.5v5h5' }],
        ['text', { x: 12.6, y: 15.6, 'text-anchor': 'middle', 'font-size': 7.5, 'font-weight': 700, ...FILLED }, '15'],
    ],
    skipForward15: [
        ['path', { d: 'M19.5 9.5A8 8 0 1 0 20 13' }],
        ['path', { d: 'M19.5 4.5v5h-5' }],
        ['text', { x: 11.4, y: 15.6, 'text-anchor': 'middle', 'font-size': 7.5, 'font-weight': 700, ...FILLED }, '15'],
    ],
    shuffle: [
        ['path', { d: 'M3 17h2.6c2.2 0 3.4-1.2 4.6-3.3l2.6-4.4C14 7.2 15.2 6 17.4 6H20.5' }],
        ['path', { d: 'M3 7h2.6c1.5 0 2.5.5 3.4 1.5' }],
        ['path', { d: 'M15 15.5c.9 1 1.9 1.5 3.4 1.5h2.1' }],
        ['path', { d: 'M18 3.5 20.5 6 18 8.5' }],
        ['path', { d: 'M18 14.5l2.5 2.5-2.5 2.5' }],
    ],
    repeat: [
        ['path', { d: 'M4 11.5V10a4 4 0 0 1 4-4h12' }],
        ['path', { d: 'M17 3l3 3-3 3' }],
        ['path', { d: 'M20 12.5V14a4 4 0 0 1-4 4H4' }],
        ['path', { d: 'M7 21l-3-3 3-3' }],
    ],
    repeatTrack: [
        ['path', { d: 'M4 11.5V10a4 4 0 0 1 4-4h12' }],
        ['path', { d: 'M17 3l3 3-3 3' }],
        ['path', { d: 'M20 12.5V14a4 4 0 0 1-4 4H4' }],
        ['path', { d: 'M7 21l-3-3 3-3' }],
        ['path', { d: 'M11 10.6l1.4-.9v5', 'stroke-width': 1.6 }],
    ],
    heart: [['path', { d: 'M12 19.5s-7.5-4.4-7.5-10A4.1 4.1 0 0 1 12 7.2a4.1 4.1 0 0 1 7.5 2.3c0 5.6-7.5 10-7.5 10z' }]],
    heartFilled: [
        ['path', { d: 'M12 19.5s-7.5-4.4-7.5-10A4.1 4.1 0 0 1 12 7.2a4.1 4.1 0 0 1 7.5 2.3c0 5.6-7.5 10-7.5 10z', fill: 'currentColor' }],
    ],
    devices: [
        ['rect', { x: 2.5, y: 4.5, width: 13, height: 10, rx: 1.5 }],
        ['path', { d: 'M6 19h6' }],
        ['path', { d: 'M9 14.5V19' }],
        ['rect', { x: 17.5, y: 8.5, width: 4.5, height: 10.5, rx: 1.2 }],
    ],
    expand: [['path', { d: 'M6 9.5l6 6 6-6' }]],
    collapse: [['path', { d: 'M6 14.5l6-6 6 6' }]],
    chevronLeft: [['path', { d: 'M14.5 6l-6 6 6 6' }]],
    chevronRight: [['path', { d: 'M9.5 6l6 6-6 6' }]],
    close: [['path', { d: 'M6.5 6.5l11 11' }], ['path', { d: 'M17.5 6.5l-11 11' }]],
    openExternal: [
        ['path', { d: 'M14 4h6v6' }],
        ['path', { d: 'M20 4l-8.5 8.5' }],
        ['path', { d: 'M18 14v4a2 2 0 0 1-2 2H6a2 2 0 0 1-2-2V8a2 2 0 0 1 2-2h4' }],
    ],
    volume: [
        ['path', { d: 'M4 9.5h3l4.5-4v13l-4.5-4H4a1 1 0 0 1-1-1v-3a1 1 0 0 1 1-1z' }],
        ['path', { d: 'M15.5 9a4.2 4.2 0 0 1 0 6' }],
        ['path', { d: 'M18.5 6.2a8.2 8.2 0 0 1 0 11.6' }],
    ],
    computer: [
        ['rect', { x: 3, y: 4, width: 18, height: 12, rx: 1.5 }],
        ['path', { d: 'M8.5 20h7' }],
        ['path', { d: 'M12 16v4' }],
    ],
    phone: [['rect', { x: 7, y: 2.5, width: 10, height: 19, rx: 2 }], ['path', { d: 'M11 18h2' }]],
    speaker: [
        ['rect', { x: 5.5, y: 2.5, width: 13, height: 19, rx: 2 }],
        ['circle', { cx: 12, cy: 14.5, r: 3 }],
        ['circle', { cx: 12, cy: 7.5, r: 1, ...FILLED }],
    ],
    musicNote: [
        ['path', { d: 'M9 17.5V6l11-2v11.5' }],
        ['circle', { cx: 6.5, cy: 17.5, r: 2.5 }],
        ['circle', { cx: 17.5, cy: 15.5, r: 2.5 }],
    ],
    // The marks keep their own colours, the theme's, which widget.css gives the mark-* classes.
    velmora: [
        ['circle', { cx: 12, cy: 12, r: 11, class: 'mark-accent-fill', 'fill-opacity': 0.14, stroke: 'none' }],
        ['path', { d: 'M7.2 8.6l4.8 8.4 4.8-8.4', class: 'mark-accent-stroke', 'stroke-width': 2.4 }],
        ['path', { d: 'M9.6 5.6h4.8', class: 'mark-text-stroke', 'stroke-opacity': 0.75, 'stroke-width': 1.4 }],
    ],
    corvana: [
        ['circle', { cx: 12, cy: 12, r: 10.5, class: 'mark-accent-fill', stroke: 'none' }],
        ['path', { d: 'M15.6 8.5a5 5 0 1 0 0 7', class: 'mark-on-accent-stroke', 'stroke-width': 2.2 }],
        ['circle', { cx: 16.1, cy: 12, r: 1.3, class: 'mark-on-accent-fill', stroke: 'none' }],
    ],
};

export const ICON_NAMES = Object.freeze(Object.keys(ICONS));

// A new <svg> of the named icon, hidden from screen readers (its control carries the name).
export function createIcon(name) {
    const shapes = ICONS[name];
    if (!shapes) throw new Error(`no icon named ${name}`);
    const svg = document.createElementNS(SVG, 'svg');
    svg.setAttribute('viewBox', '0 0 24 24');
    svg.setAttribute('aria-hidden', 'true');
    svg.setAttribute('focusable', 'false');
    svg.setAttribute('class', 'icon');
    svg.setAttribute('fill', 'none');
    svg.setAttribute('stroke', 'currentColor');
    svg.setAttribute('stroke-width', '2');
    svg.setAttribute('stroke-linecap', 'round');
    svg.setAttribute('stroke-linejoin', 'round');
    for (const [tag, attributes, text] of shapes) {
        const shape = document.createElementNS(SVG, tag);
        for (const [key, value] of Object.entries(attributes)) shape.setAttribute(key, String(value));
        if (text) shape.textContent = text;
        svg.append(shape);
    }
    return svg;
}

// Puts the named icon into the element, replacing the one it had; does nothing when it already shows it.
export function setIcon(element, name) {
    if (element.dataset.icon === name && element.firstElementChild) return;
    element.dataset.icon = name;
    element.replaceChildren(createIcon(name));
}
