// The service's event stream, read with fetch() so the token stays in a header, parsed by
// SseParser, and opened again after a loss with a growing pause (0.5 s doubling to 10 s;
// back to 0.5 s once the service greets again).

import {authHeaders, askForToken} from './api.js';
import {SseParser} from './sse.js';

const kFirstPauseMs = 500;
const kLongestPauseMs = 10000;

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// onEvent({type, data}) for each event (data parsed from JSON); onState(true|false) as the
// stream opens and closes.
export function followEvents(onEvent, onState) {
    let pauseMs = kFirstPauseMs;
    const run = async () => {
        for (;;) {
            try {
                const response = await fetch('/api/v1/events', {cache: 'no-store', headers: authHeaders()});
                if (response.status === 401) {
                    await askForToken();
                    continue;
                }
                if (!response.ok || !response.body) throw new Error(`HTTP ${response.status}`);
                const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
                const parser = new SseParser();
                for (;;) {
                    const {value, done} = await reader.read();
                    if (done) break;
                    for (const event of parser.push(value)) {
                        if (event.type === 'hello') {
                            pauseMs = kFirstPauseMs;
                            onState(true);
                        }
                        let data = null;
                        try {
                            data = JSON.parse(event.data);
                        } catch {
                            continue;
                        }
                        onEvent({type: event.type, data});
                    }
                }
            } catch {
                // Lost, refused or declined: tried again after the pause.
            }
            onState(false);
            await pause(pauseMs);
            pauseMs = Math.min(pauseMs * 2, kLongestPauseMs);
        }
    };
    run();
}
