// The device picker: the devices button (hidden while the desktop app lists no devices, green while
// another device plays) and the sheet it opens over the widget, with one row per device and, when the
// active device takes it, the volume slider. Choosing another device moves playback there.
import { byId, element, setAttribute, setClass, setHidden } from '../dom.js';
import { setIcon } from '../icons.js';
import { createThrottle } from '../throttle.js';
import { Slider } from './slider.js';

const VOLUME_INTERVAL_MS = 250;

function deviceIcon(deviceType) {
    const type = deviceType.toLowerCase();
    if (type.includes('phone') || type.includes('tablet')) return 'phone';
    if (type.includes('speaker') || type.includes('audio') || type.includes('tv') || type.includes('cast')) {
        return 'speaker';
    }
    return 'computer';
}

export class DevicePickerView {
    constructor(send) {
        this.send = send;
        this.button = byId('devices');
        this.layer = byId('device-sheet');
        this.sheet = byId('device-sheet-panel');
        this.list = byId('device-list');
        this.volumeRow = byId('device-volume');
        this.devices = null;
        this.activeDeviceId = null;
        this.isOpen = false;

        const volume = createThrottle((percent) => send(`setVolume:${(percent / 100).toFixed(2)}`), VOLUME_INTERVAL_MS);
        this.volume = new Slider(byId('volume'), {
            label: 'Volume',
            step: 5,
            bigStep: 20,
            describe: (value) => ({ now: Math.round(value), max: 100, text: `${Math.round(value)}%` }),
            onInput: (percent) => volume.update(percent),
            onCommit: (percent) => volume.finish(percent),
        });

        this.button.addEventListener('click', () => (this.isOpen ? this.close() : this.open()));
        byId('device-sheet-close').addEventListener('click', () => this.close());
        byId('device-sheet-scrim').addEventListener('click', () => this.close());
        this.layer.addEventListener('keydown', (event) => this.keyDown(event));
    }

    open() {
        if (this.isOpen) return;
        this.isOpen = true;
        // The list may have changed since it was last asked for.
        this.send('requestDevices');
        setHidden(this.layer, false);
        setAttribute(this.button, 'aria-expanded', 'true');
        const first = this.list.querySelector('button[aria-current="true"]') || this.list.querySelector('button');
        (first || byId('device-sheet-close')).focus();
    }

    close({ returnFocus = true } = {}) {
        if (!this.isOpen) return;
        this.isOpen = false;
        setHidden(this.layer, true);
        setAttribute(this.button, 'aria-expanded', 'false');
        if (returnFocus && !this.button.hidden) this.button.focus();
    }

    keyDown(event) {
        if (event.key === 'Escape') {
            event.preventDefault();
            this.close();
            return;
        }
        if (event.key !== 'Tab') return;
        // Focus stays in the sheet while it is open.
        const focusable = [...this.sheet.querySelectorAll('button:not([disabled]), [role="slider"][tabindex="0"]')]
            .filter((candidate) => !candidate.closest('[hidden]'));
        if (!focusable.length) return;
        const first = focusable[0];
        const last = focusable[focusable.length - 1];
        if (event.shiftKey && document.activeElement === first) {
            event.preventDefault();
            last.focus();
        } else if (!event.shiftKey && document.activeElement === last) {
            event.preventDefault();
            first.focus();
        }
    }

    show(state) {
        const { devices, activeDeviceId, activeDeviceIsLocal, playback } = state;
        const active = devices.find((device) => device.id === activeDeviceId)
            || devices.find((device) => device.isActive) || null;

        setHidden(this.button, devices.length === 0);
        if (devices.length === 0) this.close({ returnFocus: false });
        const elsewhere = !activeDeviceIsLocal || Boolean(active && !active.isLocal);
        setClass(this.button, 'on', elsewhere);
        setAttribute(this.button, 'aria-label', elsewhere && active && active.name
            ? `Devices, playing on ${active.name}` : 'Devices');
        setAttribute(this.button, 'title', this.button.getAttribute('aria-label'));

        if (devices !== this.devices || activeDeviceId !== this.activeDeviceId) {
            this.devices = devices;
            this.activeDeviceId = activeDeviceId;
            this.renderList(devices, active);
        }

        const volumeShown = Boolean(active && active.supportsVolume);
        setHidden(this.volumeRow, !volumeShown);
        this.volume.setEnabled(volumeShown);
        if (volumeShown) {
            const level = playback && playback.volume !== null ? playback.volume : active.volume;
            this.volume.show(level * 100, 100);
        }
    }

    renderList(devices, active) {
        const hadFocus = this.list.contains(document.activeElement);
        const rows = devices.map((device) => {
            const isActive = device === active;
            const name = element('span', { className: 'device-name' });
            name.textContent = device.name || 'Unnamed device';
            const status = element('span', { className: 'device-status' });
            status.textContent = isActive ? 'Playing' : device.isSelf ? 'This computer' : '';
            const icon = element('span', { className: 'device-icon' });
            setIcon(icon, deviceIcon(device.deviceType));
            const button = element('button', { className: 'device', attributes: { type: 'button' } },
                icon, element('span', { className: 'device-text' }, name, status));
            setClass(button, 'active', isActive);
            if (isActive) button.setAttribute('aria-current', 'true');
            button.addEventListener('click', () => {
                if (!isActive) this.send(`transferPlayback:${device.id}`);
                this.close();
            });
            return element('li', {}, button);
        });
        this.list.replaceChildren(...rows);
        if (hadFocus && this.isOpen) {
            const first = this.list.querySelector('button[aria-current="true"]') || this.list.querySelector('button');
            if (first) first.focus();
        }
    }
}
