// One controller on the page: its connection, identity, error status, inputs and outputs, the
// channel rows, trigger rows, memories and recipe. It reads the controller's state when told
// something changed (one read at a time; changes during a read ask for one more read after it)
// and greys its controls while the controller is not connected.

import {api, controllerPath} from './api.js';
import {ChannelRows, kChannels} from './channels.js';
import {el, say} from './dom.js';
import {RecipePicker} from './recipe.js';
import {TriggerRows, kTriggerRows} from './triggers.js';

const kMemories = 10;

function memoryControls(owner, kind, label) {
    const index = el('select', {'aria-label': `${label} index`},
        ...Array.from({length: kMemories}, (_, i) => el('option', {value: String(i)}, String(i))));
    const save = el('button', {type: 'button', 'aria-label': `Save ${label.toLowerCase()}`}, 'Save');
    const load = el('button', {type: 'button', 'aria-label': `Load ${label.toLowerCase()}`}, 'Load');
    const message = el('span', {class: 'msg', role: 'status'});
    const run = async (op) => {
        try {
            await api('POST', controllerPath(owner.name, `/memories/${kind}/${index.value}/${op}`));
            say(message, `${op === 'save' ? 'Saved to' : 'Loaded'} memory ${index.value}`, false);
        } catch (e) {
            say(message, e.message);
        }
    };
    save.addEventListener('click', () => run('save'));
    load.addEventListener('click', () => run('load'));
    return {index, element: el('div', {class: 'memory'}, el('span', {class: 'label'}, label), index, save, load, message)};
}

export class ControllerView {
    constructor(name) {
        this.name = name;
        this.connection = 'opening';
        this.reading = false;
        this.readAgain = false;
        this.heardCount = 0;
        this.loaded = false;
        this.modelChannels = kChannels;

        const headingId = `controller-${name.replace(/[^A-Za-z0-9_-]/g, '_')}`;
        this.badge = el('span', {class: 'badge'}, 'opening');
        this.identity = el('span', {class: 'identity'});
        this.lostNote = el('p', {class: 'lost-note', role: 'status'});
        this.errorStatus = el('span', {class: 'value'});
        this.inputs = [0, 1].map((i) => el('span', {class: 'lamp', role: 'img', 'aria-label': `IN${i} off`}, `IN${i}`));
        this.outputs = [0, 1].map((i) => el('input', {type: 'checkbox', role: 'switch', class: 'switch', 'aria-label': `OUT${i}`}));
        this.outputMessage = el('span', {class: 'msg', role: 'status'});
        this.knownOutputs = [false, false];
        this.io = {in0: false, in1: false, out0: false, out1: false};
        this.channels = new ChannelRows(this);
        this.triggers = new TriggerRows(this);
        this.recipe = new RecipePicker(this);
        this.bright = memoryControls(this, 'bright', 'Bright memory');
        this.trigger = memoryControls(this, 'trigger', 'Trigger memory');
        this.allMessage = el('span', {class: 'msg', role: 'status'});
        const allOn = el('button', {type: 'button'}, 'All on');
        const allOff = el('button', {type: 'button'}, 'All off');
        allOn.addEventListener('click', () => this.switchAll(true));
        allOff.addEventListener('click', () => this.switchAll(false));
        for (const out of this.outputs) out.addEventListener('change', () => this.sendOutputs());
        const refresh = el('button', {type: 'button', 'aria-label': `Read ${name} again`}, 'Refresh');
        refresh.addEventListener('click', () => this.refresh());

        this.controls = el('fieldset', {class: 'controls', disabled: true},
            el('legend', {class: 'visually-hidden'}, `${name} controls`),
            el('div', {class: 'status-line'},
                el('span', {class: 'label'}, 'Error Status'), this.errorStatus,
                ...this.inputs,
                el('span', {class: 'outputs'}, ...this.outputs.flatMap((o, i) => [el('span', {class: 'label', 'aria-hidden': 'true'}, `OUT${i}`), o])),
                this.outputMessage),
            el('div', {class: 'tools'}, allOn, allOff, this.allMessage),
            this.channels.element,
            el('div', {class: 'lower'},
                this.triggers.element,
                el('section', {class: 'memories'}, el('h3', {}, 'Memories'), this.bright.element, this.trigger.element),
                this.recipe.element));
        this.element = el('section', {class: 'controller', 'aria-labelledby': headingId},
            el('header', {},
                el('h2', {id: headingId}, name), this.badge, this.identity, refresh),
            this.lostNote,
            this.controls);
    }

    get connected() {
        return this.connection === 'connected';
    }

    // state: connected, reconnecting, lost, closed, opening, failed; error: why it failed.
    setConnection(state, error = '') {
        this.connection = state;
        this.badge.textContent = state;
        this.badge.className = `badge ${state}`;
        this.element.classList.toggle('lost', !this.connected);
        // Enabled once the controller's values are shown: never a placeholder to click on.
        this.controls.disabled = !this.connected || !this.loaded;
        this.lostNote.textContent = this.connected ? ''
            : `${this.name} is ${state}${error ? `: ${error}` : ''}. Its controls return when it is connected again.`;
    }

    setIdentity(identity) {
        if (!identity) return;
        const parts = [identity.model, `S/N ${identity.serial}`, `ID ${identity.module_id}`,
            identity.firmware && `F/W ${identity.firmware}`, identity.fpga && `FPGA ${identity.fpga}`,
            identity.build && `build ${identity.build}`];
        this.identity.textContent = parts.filter(Boolean).join(' · ');
    }

    setRecipes(recipes) {
        this.recipe.take(recipes);
    }

    // Reads the controller's state and shows it.
    async refresh() {
        if (this.reading) {
            this.readAgain = true;
            return;
        }
        this.reading = true;
        const heardBefore = this.heardCount;
        try {
            const {state} = await api('GET', controllerPath(this.name));
            // A change heard during the read may be newer than what the read found: read again.
            if (this.heardCount !== heardBefore) this.readAgain = true;
            else this.show(state);
            if (!this.connected) this.setConnection('connected');
        } catch (e) {
            if (e.status === 503) this.setConnection(this.connection === 'connected' ? 'lost' : this.connection);
        } finally {
            this.reading = false;
            if (this.readAgain) {
                this.readAgain = false;
                this.refresh();
            }
        }
    }

    show(state) {
        const first = !this.loaded;
        this.loaded = true;
        this.controls.disabled = !this.connected;
        this.setIdentity(state.identity);
        this.modelChannels = state.model_channels || kChannels;
        this.channels.take(state.channels, this.modelChannels);
        this.triggers.take(state.triggers, state.trigger_channels || kTriggerRows);
        const err = state.error_status;
        this.errorStatus.textContent = err.code === 0 && err.detail === 0 ? 'none' : `code ${err.code}, detail ${err.detail}`;
        this.errorStatus.classList.toggle('error', err.code !== 0);
        this.showIo(state.io);
        // The memories the controller uses, as a start; later reads leave the user's choice.
        if (first) {
            this.bright.index.value = String(state.bright_memory);
            this.trigger.index.value = String(state.trigger_memory);
        }
    }

    showIo(io) {
        this.io = io;
        [io.in0, io.in1].forEach((on, i) => {
            this.inputs[i].classList.toggle('on', on);
            this.inputs[i].setAttribute('aria-label', `IN${i} ${on ? 'on' : 'off'}`);
        });
        this.knownOutputs = [io.out0, io.out1];
        this.outputs.forEach((o, i) => {
            o.checked = this.knownOutputs[i];
        });
    }

    // A change heard on the event stream, with the values it set (the service's "set"): shown
    // at once. What the event cannot tell (a trigger row's off time, the controller's own
    // derivation; a save) is read again.
    heard(set) {
        ++this.heardCount;
        if (!set) {
            this.refresh();
            return;
        }
        if (set.channel !== undefined) {
            const values = {};
            if (set.brightness !== undefined) values.brightness = set.brightness;
            if (set.on !== undefined) values.on = set.on;
            this.channels.takeOne(set.channel, values);
            return;
        }
        if (Array.isArray(set.brightness)) {
            set.brightness.forEach((b, i) => this.channels.takeOne(i + 1, {brightness: b}));
        }
        if (Array.isArray(set.on)) this.channels.takeOnMask(set.on.reduce((m, c) => m | (1 << (c - 1)), 0));
        if (set.channels) this.channels.take(set.channels, this.modelChannels);
        if (set.triggers) this.triggers.take(set.triggers, this.triggers.count);
        if (set.out0 !== undefined) this.showIo({...this.io, out0: set.out0, out1: set.out1});
        if (set.trigger !== undefined) {
            this.triggers.takeOne(set.trigger, {...set, off_us: undefined});
            this.refresh();
        }
    }

    async switchAll(on) {
        const list = on ? Array.from({length: this.modelChannels}, (_, i) => i + 1) : [];
        try {
            await api('PUT', controllerPath(this.name, '/channels'), {on: list});
            say(this.allMessage, '');
        } catch (e) {
            say(this.allMessage, e.message);
        }
    }

    async sendOutputs() {
        try {
            await api('PUT', controllerPath(this.name, '/outputs'), {out0: this.outputs[0].checked, out1: this.outputs[1].checked});
            this.knownOutputs = this.outputs.map((o) => o.checked);
            say(this.outputMessage, '');
        } catch (e) {
            say(this.outputMessage, e.message);
            this.outputs.forEach((o, i) => {
                o.checked = this.knownOutputs[i];
            });
        }
    }
}
