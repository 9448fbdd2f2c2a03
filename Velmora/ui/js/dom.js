// Small DOM helpers. Every text goes in as text (textContent, attributes), never as markup, and nothing
// is written that is already there, so that a push that changes nothing redraws nothing.
import { setIcon } from './icons.js';

export function byId(id) {
    const element = document.getElementById(id);
    if (!element) throw new Error(`the page has no #${id}`);
    return element;
}

// A new element with classes, attributes and children (elements or texts).
export function element(tag, { className, attributes = {} } = {}, ...children) {
    const created = document.createElement(tag);
    if (className) created.className = className;
    for (const [name, value] of Object.entries(attributes)) created.setAttribute(name, String(value));
    created.append(...children);
    return created;
}

export function setText(target, text) {
    if (target.textContent !== text) target.textContent = text;
}

export function setAttribute(target, name, value) {
    if (value === null || value === undefined) {
        if (target.hasAttribute(name)) target.removeAttribute(name);
    } else if (target.getAttribute(name) !== String(value)) {
        target.setAttribute(name, String(value));
    }
}

export function setHidden(target, hidden) {
    if (target.hidden !== hidden) target.hidden = hidden;
}

export function setClass(target, name, on) {
    if (target.classList.contains(name) !== on) target.classList.toggle(name, on);
}

// A button showing a control of playback.js: its icon, its name for screen readers, whether it can be
// pressed (a disabled button stays visible at half strength and is skipped by Tab), whether it shows its
// "on" colour and, for a toggle whose name stays the same, whether it is pressed.
export function showControl(button, control) {
    setIcon(button, control.icon);
    setAttribute(button, 'aria-label', control.label);
    setAttribute(button, 'title', control.label);
    if (button.disabled !== !control.enabled) button.disabled = !control.enabled;
    if ('on' in control) setClass(button, 'on', control.on);
    if ('pressed' in control) setAttribute(button, 'aria-pressed', control.pressed ? 'true' : 'false');
}
