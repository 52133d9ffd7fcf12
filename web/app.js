// The page: the controllers the service has, kept current from its event stream. Everything
// is read again whenever the stream (re)opens, since events may have been missed while it was
// down; between opens only what an event names is read.

import {api, askAgain, setTokenPrompt} from './api.js';
import {ControllerView} from './controller_view.js';
import {EventLog} from './event_log.js';
import {followEvents} from './events.js';

// If the stream does not open soon (too many clients, a proxy that buffers), the page still
// shows the controllers once.
const kFirstLoadWaitMs = 3000;

const views = new Map();
let recipes = [];
const main = document.getElementById('controllers');
const streamState = document.getElementById('stream-state');
const pageMessage = document.getElementById('page-message');
const log = new EventLog(document.getElementById('events'));

function askToken(wrongBefore) {
    const dialog = document.getElementById('token-dialog');
    const form = dialog.querySelector('form');
    const field = document.getElementById('token-field');
    document.getElementById('token-wrong').hidden = !wrongBefore;
    field.value = '';
    return new Promise((resolve) => {
        const done = (value) => {
            form.removeEventListener('submit', submit);
            dialog.removeEventListener('cancel', cancel);
            if (dialog.open) dialog.close();
            resolve(value);
        };
        const submit = (event) => {
            event.preventDefault();
            done(field.value.trim() || null);
        };
        const cancel = () => done(null);
        form.addEventListener('submit', submit);
        dialog.addEventListener('cancel', cancel);
        dialog.showModal();
        field.focus();
    });
}

async function loadControllers() {
    let list;
    try {
        ({controllers: list} = await api('GET', '/api/v1/controllers'));
        pageMessage.textContent = '';
    } catch (e) {
        pageMessage.textContent = `Cannot list the controllers: ${e.message}`;
        return;
    }
    const names = new Set(list.map((c) => c.name));
    for (const [name, view] of views) {
        if (!names.has(name)) {
            view.element.remove();
            views.delete(name);
        }
    }
    for (const c of list) {
        let view = views.get(c.name);
        if (!view) {
            view = new ControllerView(c.name);
            views.set(c.name, view);
            view.setRecipes(recipes);
        }
        main.append(view.element);  // in the service's order
        view.setConnection(c.connection, c.error || '');
        view.setIdentity(c.identity);
        if (c.connection === 'connected') view.refresh();
    }
    document.getElementById('no-controllers').hidden = list.length > 0;
}

async function loadRecipes() {
    try {
        ({recipes} = await api('GET', '/api/v1/recipes'));
    } catch {
        recipes = [];
    }
    for (const view of views.values()) view.setRecipes(recipes);
}

function loadAll() {
    loadControllers();
    loadRecipes();
}

function onEvent({type, data}) {
    if (type === 'hello') return;
    log.add(type, data);
    const view = views.get(data.controller);
    if (type === 'connection') {
        if (!view || data.state === 'closed') {
            loadControllers();  // added or removed by a reload of the configuration
            return;
        }
        view.setConnection(data.state);
        if (data.state === 'connected') view.refresh();
    } else if (type === 'change' && view) {
        view.heard(data.set);
    } else if (type === 'recipe' && view) {
        view.recipe.heard(data.recipe, data.report);
        view.refresh();
    }
}

function tokenDeclined() {
    pageMessage.textContent = 'The service asks for its token.';
    document.getElementById('token-again').hidden = false;
}

document.getElementById('token-again').addEventListener('click', (event) => {
    event.currentTarget.hidden = true;
    pageMessage.textContent = '';
    askAgain();
    loadAll();
});

let opened = false;
setTokenPrompt(askToken, tokenDeclined);
followEvents(onEvent, (open) => {
    streamState.textContent = open ? 'Live' : 'Reconnecting to the service…';
    streamState.className = open ? 'live' : 'down';
    if (open) {
        opened = true;
        loadAll();
    }
});
setTimeout(() => {
    if (!opened) loadAll();
}, kFirstLoadWaitMs);
