// The channel rows of one controller: per channel a slider and a number field (0..1024) and an
// on switch, named as the desktop panel names them ("CH3", "CH3 value", "CH3 on"). A dragged
// slider sends through a TrailingSender; a refused value shows the service's message beside
// the row and the row returns to the controller's value.

import {api, controllerPath} from './api.js';
import {el, say} from './dom.js';
import {TrailingSender} from './throttle.js';

export const kChannels = 16;
export const kMaxBrightness = 1024;
const kSendIntervalMs = 50;

class ChannelRow {
    constructor(owner, n) {
        this.owner = owner;
        this.n = n;
        this.known = {brightness: 0, on: false};
        this.holding = false;
        this.switching = false;
        this.slider = el('input', {type: 'range', min: 0, max: kMaxBrightness, step: 1, value: 0, 'aria-label': `CH${n}`});
        this.number = el('input', {type: 'number', min: 0, max: kMaxBrightness, step: 1, value: 0,
            inputMode: 'numeric', 'aria-label': `CH${n} value`});
        this.on = el('input', {type: 'checkbox', role: 'switch', class: 'switch', 'aria-label': `CH${n} on`});
        this.message = el('span', {class: 'msg', role: 'status'});
        this.element = el('div', {class: 'channel'},
            el('span', {class: 'ch-name', 'aria-hidden': 'true'}, `CH${n}`),
            this.slider, this.number, this.on, this.message);

        this.sender = new TrailingSender((value) => this.put({brightness: value}), kSendIntervalMs,
            () => this.show());
        this.slider.addEventListener('pointerdown', () => {
            this.holding = true;
        });
        this.slider.addEventListener('input', () => {
            this.number.value = this.slider.value;
            this.sender.set(Number(this.slider.value));
        });
        this.number.addEventListener('change', () => {
            if (this.number.value === '') {
                this.show();
                return;
            }
            this.slider.value = this.number.value;
            this.sender.set(Number(this.number.value));
        });
        this.on.addEventListener('change', async () => {
            this.switching = true;
            await this.put({on: this.on.checked});
            this.switching = false;
            this.show();
        });
    }

    // Resolves either way; a refusal is shown, not thrown.
    async put(body) {
        try {
            await api('PUT', controllerPath(this.owner.name, `/channels/${this.n}`), body);
            if (body.brightness !== undefined) this.known.brightness = body.brightness;
            if (body.on !== undefined) this.known.on = body.on;
            say(this.message, '');
        } catch (e) {
            say(this.message, e.message);
            this.show(true);
        }
    }

    released() {
        if (!this.holding) return;
        this.holding = false;
        this.show();
    }

    // Shows the controller's values, but not over a value being dragged or sent.
    show(force = false) {
        if (!force && (this.holding || this.sender.busy)) return;
        this.slider.value = String(this.known.brightness);
        this.number.value = String(this.known.brightness);
        if (force || !this.switching) this.on.checked = this.known.on;
    }

    take(values) {
        Object.assign(this.known, values);
        this.show();
    }
}

export class ChannelRows {
    constructor(owner) {
        this.rows = [];
        this.element = el('div', {class: 'channels'});
        for (let n = 1; n <= kChannels; ++n) {
            const row = new ChannelRow(owner, n);
            this.rows.push(row);
            this.element.append(row.element);
        }
        // A drag may end anywhere on the page, or be taken by the browser (a scroll).
        const release = () => this.rows.forEach((r) => r.released());
        window.addEventListener('pointerup', release);
        window.addEventListener('pointercancel', release);
    }

    // channels: the state's list [{channel, brightness, on}]; count: the model's channels.
    take(channels, count) {
        for (const row of this.rows) row.element.hidden = row.n > count;
        for (const c of channels) this.rows[c.channel - 1]?.take({brightness: c.brightness, on: c.on});
    }

    takeOne(channel, values) {
        this.rows[channel - 1]?.take(values);
    }

    takeOnMask(mask) {
        for (const row of this.rows) row.take({on: (mask & (1 << (row.n - 1))) !== 0});
    }

    get visibleCount() {
        return this.rows.filter((r) => !r.element.hidden).length;
    }
}
