"""The web panel's figures in headless Chromium against `lumitraxd --simulate` (figures, not
checks; tests/web_panel_test.py holds the checks and the helpers used here).

    /usr/bin/python3 bench/web_panel_figures.py [BUILD_DIR]   (default build/plain)

Prints, over ROUNDS page loads (median): the page ready time from navigation timing
(domContentLoadedEventEnd, loadEventEnd); the bytes transferred for the page's files on a first
load (transferSize of the navigation and resources, the API left out) and on a reload (304s);
the requests the page makes in 2 s with nothing changing; and, from a script's PUT to the page
showing the value (the page's wall clock against the script's), a channel and a trigger row.
"""

import json
import os
import statistics
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import web_panel_test as t  # noqa: E402

ROUNDS = 5


def shown_after_put_ms(driver, url, path, body, control, expected):
    sent = []

    def put():
        time.sleep(0.3)
        sent.append(time.time() * 1000)
        t.http(url + path, {"Content-Type": "application/json"}, "PUT", json.dumps(body).encode())

    threading.Thread(target=put).start()
    shown = driver.execute_async_script("""
        const [name, expected, done] = arguments;
        const field = document.querySelector(`[aria-label="${name}"]`);
        const look = () => field.value === expected ? done(Date.now()) : requestAnimationFrame(look);
        look();""", control, expected)
    t.wait_until("the PUT sent", lambda: sent)
    return round(shown - sent[0])


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/plain"
    figures = {}
    with tempfile.TemporaryDirectory() as work:
        config = os.path.join(work, "free-port.toml")
        with open(config, "w") as f:
            f.write('listen = "127.0.0.1:0"\n')
        svc = t.Child([os.path.join(build, "service/lumitraxd"), "--simulate", "--config", config], work, "svc")
        driver = t.browser()
        try:
            url = svc.first_line
            rows = []
            for i in range(ROUNDS):
                if i == 0:
                    driver.get(url)
                else:
                    driver.refresh()
                t.connected(driver, "sim")
                rows.append(driver.execute_script("""
                    const n = performance.getEntriesByType('navigation')[0];
                    const files = [n, ...performance.getEntriesByType('resource')].filter(e => !e.name.includes('/api/'));
                    return [n.domContentLoadedEventEnd, n.loadEventEnd, files.reduce((s, e) => s + e.transferSize, 0)];"""))
            figures["page ready, domContentLoaded (ms, median)"] = round(statistics.median(r[0] for r in rows))
            figures["page ready, loadEventEnd (ms, median)"] = round(statistics.median(r[1] for r in rows))
            figures["bytes transferred, first load"] = rows[0][2]
            figures["bytes transferred, reload (revalidated)"] = rows[-1][2]

            time.sleep(1)
            before = driver.execute_script("return performance.getEntriesByType('resource').length")
            time.sleep(2)
            figures["requests in 2 s idle"] = driver.execute_script(
                "return performance.getEntriesByType('resource').length") - before

            channel, trigger = [], []
            for i in range(ROUNDS):
                channel.append(shown_after_put_ms(driver, url, "/api/v1/controllers/sim/channels/6",
                                                  {"brightness": 700 + i}, "CH6 value", str(700 + i)))
            # Each trigger change also has the page read the controller back (for the off time,
            # which only the controller derives): a second apart, so no read is still running.
            for i in range(ROUNDS):
                time.sleep(0.7)
                trigger.append(shown_after_put_ms(driver, url, "/api/v1/controllers/sim/triggers/3",
                                                  {"enable": True, "edge": "negative", "delay_us": 300 + i, "on_us": 20},
                                                  "Trigger3 Delay", str(300 + i)))
            figures["a script's channel change shown (ms, median)"] = statistics.median(channel)
            figures["a script's trigger change shown (ms, median)"] = statistics.median(trigger)
        finally:
            driver.quit()
            svc.stop()
    for k, v in figures.items():
        print(f"{k}: {v}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
