// Building elements in code: the rows repeat (16 channels, 4 trigger rows, N controllers), and
// markup made from strings would invite injection of a controller's or a recipe's name.

// el('input', {type: 'range', 'aria-label': 'CH3'}, ...children): attributes with a dash (and
// class, role) are set as attributes, the others as properties.
export function el(tag, props = {}, ...children) {
    const e = document.createElement(tag);
    for (const [key, value] of Object.entries(props)) {
        if (value === undefined || value === null) continue;
        if (key === 'class') e.className = value;
        else if (key.includes('-') || key === 'role' || key === 'for') e.setAttribute(key, value);
        else e[key] = value;
    }
    for (const child of children) {
        if (child !== null && child !== undefined && child !== false) e.append(child);
    }
    return e;
}

// A message beside a control: the service's own words for a refusal, gone on the next success.
export function say(target, text, isError = true) {
    target.textContent = text || '';
    target.classList.toggle('error', Boolean(text) && isError);
}
