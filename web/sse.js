// The text/event-stream format, parsed from text chunks as they arrive. The page reads
// /api/v1/events with fetch() rather than EventSource because EventSource cannot send the
// Authorization header, and a token must never travel in a URL.

export class SseParser {
    constructor() {
        this.buffer = '';
        this.type = '';
        this.data = [];
    }

    // Takes the next chunk (any split: mid-line, mid-field); returns the events it completes,
    // each {type, data}, data being the event's data lines joined by "\n".
    push(chunk) {
        this.buffer += chunk;
        const events = [];
        let nl;
        while ((nl = this.buffer.indexOf('\n')) >= 0) {
            let line = this.buffer.slice(0, nl);
            this.buffer = this.buffer.slice(nl + 1);
            if (line.endsWith('\r')) line = line.slice(0, -1);
            if (line === '') {
                if (this.data.length > 0) {
                    events.push({type: this.type || 'message', data: this.data.join('\n')});
                }
                this.type = '';
                this.data = [];
                continue;
            }
            if (line.startsWith(':')) continue;  // a comment: the service's keep-alive
            const colon = line.indexOf(':');
            const field = colon < 0 ? line : line.slice(0, colon);
            let value = colon < 0 ? '' : line.slice(colon + 1);
            if (value.startsWith(' ')) value = value.slice(1);
            if (field === 'event') this.type = value;
            else if (field === 'data') this.data.push(value);
        }
        return events;
    }
}
