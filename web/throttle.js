// A control that sends as it moves (a dragged slider) sends at most once per interval and
// always its last value: a value arriving within the interval waits for its end, replacing any
// value already waiting. One request at a time, so the last value is also the last applied.

export class TrailingSender {
    // send(value) -> Promise; settled() is called when nothing is waiting or in flight.
    constructor(send, intervalMs, settled = () => {}) {
        this.send = send;
        this.intervalMs = intervalMs;
        this.settled = settled;
        this.lastStart = -Infinity;
        this.waiting = false;
        this.value = undefined;
        this.timer = null;
        this.inFlight = false;
    }

    get busy() {
        return this.waiting || this.inFlight || this.timer !== null;
    }

    set(value) {
        this.value = value;
        this.waiting = true;
        this.next();
    }

    next() {
        if (this.timer !== null || this.inFlight) return;
        if (!this.waiting) {
            this.settled();
            return;
        }
        const wait = this.lastStart + this.intervalMs - performance.now();
        if (wait > 0) {
            this.timer = setTimeout(() => {
                this.timer = null;
                this.next();
            }, wait);
            return;
        }
        const value = this.value;
        this.waiting = false;
        this.inFlight = true;
        Promise.resolve()
            .then(() => {
                this.lastStart = performance.now();
                return this.send(value);
            })
            .catch(() => {})
            .finally(() => {
                this.inFlight = false;
                this.next();
            });
    }
}
