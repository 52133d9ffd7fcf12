// Every call the page makes to /api/v1. When the service answers 401 the user is asked for
// the token once (one dialog for all the calls refused meanwhile); it is kept in this tab's
// sessionStorage and sent as "Authorization: Bearer", never in a URL.

const kTokenKey = 'lumitrax.token';

export class ApiError extends Error {
    // status 0: no answer at all. data: the answer's JSON, when it had one.
    constructor(status, kind, message, data) {
        super(message);
        this.status = status;
        this.kind = kind;
        this.data = data;
    }
}

let askUser = null;  // (wrongBefore) => Promise<string|null>, set by the page
let onDecline = () => {};
let asking = null;
let declined = false;  // the user closed the dialog: not asked again until askAgain()

export function setTokenPrompt(prompt, declinedCallback) {
    askUser = prompt;
    onDecline = declinedCallback;
}

export function askAgain() {
    declined = false;
}

export function authHeaders(extra = {}) {
    const headers = {...extra};
    const token = sessionStorage.getItem(kTokenKey);
    if (token) headers.Authorization = `Bearer ${token}`;
    return headers;
}

// Resolves once a token is stored; rejects when the user declines.
export function askForToken() {
    if (declined) return Promise.reject(new ApiError(401, 'unauthorized', 'the service asks for a token'));
    if (!asking) {
        const wrongBefore = sessionStorage.getItem(kTokenKey) !== null;
        asking = (askUser ? askUser(wrongBefore) : Promise.resolve(null)).then((token) => {
            asking = null;
            if (!token) {
                declined = true;
                onDecline();
                throw new ApiError(401, 'unauthorized', 'the service asks for a token');
            }
            sessionStorage.setItem(kTokenKey, token);
        }, (e) => {
            asking = null;
            throw e;
        });
    }
    return asking;
}

// One call; resolves to the answer's JSON, rejects with an ApiError carrying the service's
// own message (and its JSON: a recipe that differs answers 409 with its report).
export async function api(method, path, body) {
    for (;;) {
        const init = {method, cache: 'no-store', headers: authHeaders(body === undefined ? {} : {'Content-Type': 'application/json'})};
        if (body !== undefined) init.body = JSON.stringify(body);
        let response;
        try {
            response = await fetch(path, init);
        } catch {
            throw new ApiError(0, 'network', 'the service does not answer');
        }
        if (response.status === 401) {
            await askForToken();
            continue;
        }
        let data = null;
        try {
            data = await response.json();
        } catch {
            data = null;
        }
        if (response.ok) return data;
        const error = data && data.error ? data.error : {kind: 'http', message: `HTTP ${response.status}`};
        throw new ApiError(response.status, error.kind, error.message, data);
    }
}

export const controllerPath = (name, rest = '') => `/api/v1/controllers/${encodeURIComponent(name)}${rest}`;
