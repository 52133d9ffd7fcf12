// The recent events, newest first, as the service's stream reports them: who changed what,
// connections lost and regained, recipes applied.

import {el} from './dom.js';

const kKept = 50;

export function describe(type, data) {
    switch (type) {
    case 'change': return `${data.what} (from ${data.client})`;
    case 'connection': return `connection ${data.state}`;
    case 'recipe': return `recipe ${data.recipe}: ${data.report ? data.report.result : ''} (from ${data.client})`;
    default: return type;
    }
}

export class EventLog {
    constructor(list) {
        this.list = list;
    }

    add(type, data) {
        const time = data.time ? data.time.slice(11, 19) : '';
        this.list.prepend(el('li', {},
            el('time', {dateTime: data.time || ''}, time), ' ',
            el('strong', {}, data.controller || ''), ' ', describe(type, data)));
        while (this.list.children.length > kKept) this.list.lastElementChild.remove();
    }
}
