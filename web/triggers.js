// The trigger rows of one controller, named as the desktop panel names them ("Trigger2",
// "Trigger2 edge", "Trigger2 Delay", "Trigger2 ON time", "Trigger2 OFF time"). A row is
// written whole (the API takes all four fields) when any of its fields changes.

import {api, controllerPath} from './api.js';
import {el, say} from './dom.js';

export const kTriggerRows = 4;
const kMaxUs = 4000;

class TriggerRow {
    constructor(owner, n) {
        this.owner = owner;
        this.n = n;
        this.known = null;
        const name = `Trigger${n}`;
        this.enable = el('input', {type: 'checkbox', role: 'switch', class: 'switch', 'aria-label': name});
        this.edge = el('select', {'aria-label': `${name} edge`},
            el('option', {value: 'positive'}, 'Positive'), el('option', {value: 'negative'}, 'Negative'));
        this.delay = el('input', {type: 'number', min: 1, max: kMaxUs, step: 1, inputMode: 'numeric', 'aria-label': `${name} Delay`});
        this.onTime = el('input', {type: 'number', min: 1, max: kMaxUs, step: 1, inputMode: 'numeric', 'aria-label': `${name} ON time`});
        this.offTime = el('output', {'aria-label': `${name} OFF time`});
        this.message = el('span', {class: 'msg', role: 'status'});
        this.element = el('tr', {},
            el('th', {scope: 'row'}, name),
            el('td', {}, this.enable), el('td', {}, this.edge), el('td', {}, this.delay),
            el('td', {}, this.onTime), el('td', {}, this.offTime), el('td', {}, this.message));
        for (const field of [this.enable, this.edge, this.delay, this.onTime]) {
            field.addEventListener('change', () => this.send());
        }
    }

    async send() {
        const body = {
            enable: this.enable.checked,
            edge: this.edge.value,
            delay_us: Number(this.delay.value),
            on_us: Number(this.onTime.value),
        };
        try {
            await api('PUT', controllerPath(this.owner.name, `/triggers/${this.n}`), body);
            say(this.message, '');
        } catch (e) {
            say(this.message, e.message);
            this.show();
        }
    }

    show() {
        if (!this.known) return;
        this.enable.checked = this.known.enable;
        this.edge.value = this.known.edge;
        this.delay.value = String(this.known.delay_us);
        this.onTime.value = String(this.known.on_us);
        this.offTime.value = this.known.off_us === undefined ? '…' : `${this.known.off_us} µs`;
    }

    take(row) {
        this.known = row;
        // A field being edited keeps what the user types until it is sent.
        if (this.element.contains(document.activeElement) && document.activeElement !== this.enable) return;
        this.show();
    }
}

export class TriggerRows {
    constructor(owner) {
        this.rows = [];
        this.count = kTriggerRows;
        const body = el('tbody');
        for (let n = 1; n <= kTriggerRows; ++n) {
            const row = new TriggerRow(owner, n);
            this.rows.push(row);
            body.append(row.element);
        }
        this.element = el('table', {class: 'triggers'},
            el('caption', {}, 'Triggers'),
            el('thead', {}, el('tr', {},
                ...['Row', 'Enable', 'Edge', 'Delay (µs)', 'ON time (µs)', 'OFF time', ''].map((h) => el('th', {scope: 'col'}, h)))),
            body);
    }

    // triggers: the state's list [{trigger, enable, edge, delay_us, on_us, off_us}].
    take(triggers, count) {
        this.count = count;
        for (const row of this.rows) row.element.hidden = row.n > count;
        for (const t of triggers) this.rows[t.trigger - 1]?.take(t);
    }

    // One row's new values; the fields not given stay as they were.
    takeOne(n, values) {
        const row = this.rows[n - 1];
        if (row) row.take({...row.known, ...values});
    }
}
