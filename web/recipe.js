// Recipes: the list the service reads from its folder, applied to one controller, and the
// report of the apply: verified, or each field that differs (what the recipe wants and what the
// controller has), or why it failed.

import {ApiError, api, controllerPath} from './api.js';
import {el, say} from './dom.js';

// Fills target with report (the service's recipe report) for the recipe named name.
export function showReport(target, name, report) {
    const differences = report.differences || [];
    let headline;
    if (report.result === 'verified') headline = `${name}: applied and verified`;
    else if (report.result === 'differs') headline = `${name}: differs in ${differences.length} field(s)`;
    else headline = `${name}: failed${report.error ? ` (${report.error})` : ''}`;
    const parts = [el('p', {class: `result ${report.result}`}, headline)];
    if (differences.length > 0) {
        parts.push(el('table', {class: 'differences'},
            el('caption', {}, 'Differences'),
            el('thead', {}, el('tr', {}, ...['Field', 'Wanted', 'Found'].map((h) => el('th', {scope: 'col'}, h)))),
            el('tbody', {}, ...differences.map((d) =>
                el('tr', {}, el('th', {scope: 'row'}, d.field), el('td', {}, d.wanted), el('td', {}, d.found))))));
    }
    target.replaceChildren(...parts);
}

export class RecipePicker {
    constructor(owner) {
        this.owner = owner;
        this.select = el('select', {'aria-label': 'Recipe'});
        this.apply = el('button', {type: 'button'}, 'Apply recipe');
        this.message = el('span', {class: 'msg', role: 'status'});
        this.report = el('div', {class: 'report', 'aria-live': 'polite'});
        this.element = el('section', {class: 'recipe'},
            el('h3', {}, 'Recipe'),
            el('div', {class: 'tools'}, this.select, this.apply, this.message),
            this.report);
        this.apply.addEventListener('click', () => this.run());
        this.take([]);
    }

    // recipes: the service's list [{name, number, ...}].
    take(recipes) {
        const chosen = this.select.value;
        this.select.replaceChildren(...recipes.map((r) =>
            el('option', {value: r.name}, r.number ? `${r.name} (${r.number})` : r.name)));
        if (recipes.some((r) => r.name === chosen)) this.select.value = chosen;
        this.apply.disabled = recipes.length === 0;
        this.select.hidden = recipes.length === 0;
        say(this.message, recipes.length === 0 ? 'No recipes in the service\'s folder' : '', false);
    }

    async run() {
        const name = this.select.value;
        if (!name) return;
        say(this.message, 'Applying…', false);
        try {
            const answer = await api('POST', controllerPath(this.owner.name, '/recipe'), {recipe: name});
            showReport(this.report, name, answer.recipe);
            say(this.message, '');
        } catch (e) {
            // A recipe that differs or failed still comes with its report.
            if (e instanceof ApiError && e.data && e.data.recipe) {
                showReport(this.report, name, e.data.recipe);
                say(this.message, '');
            } else {
                say(this.message, e.message);
            }
        }
    }

    // A report from the event stream (this page's apply or anyone else's).
    heard(name, report) {
        showReport(this.report, name, report);
    }
}
