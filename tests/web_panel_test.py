#!/usr/bin/env python3
"""The web panel in headless Chromium against the real lumitraxd and lumitrax-sim.

  web_panel_test.py --lumitraxd PATH --sim PATH [--screenshot PNG]

Scenarios: (1) `lumitraxd --simulate`: the page loads clean (no console error, nothing from
another host, its headers), a dragged CH3 reaches the simulator's wire, a second browser sees
it, a refused value is shown and undone; (2) a recipe applied and its report; (3) the token is
asked for once and kept in a header; (4) a controller lost and back greys its controls and
returns them. Exit 77 when Chromium, its driver or selenium is missing. The page's figures
(load time, bytes, idle requests, how soon a change shows): bench/web_panel_figures.py.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

try:
    from selenium import webdriver
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.chrome.service import Service as ChromeService
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)

DEADLINE_S = 20  # generous: conditions are waited for, never timed


def wait_until(what, condition, timeout=DEADLINE_S):
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        try:
            last = condition()
            if last:
                return last
        except WebDriverException as e:
            last = e
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what} (last: {last!r})")


def check(condition, message):
    if not condition:
        raise AssertionError(message)


class Child:
    """A program whose first line of output names what it serves; ended by its pid."""

    def __init__(self, args, workdir, name):
        self.err_path = os.path.join(workdir, f"{name}.err")
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=open(self.err_path, "w"), text=True)
        self.first_line = self.proc.stdout.readline().strip()
        check(self.first_line, f"{args[0]} printed nothing: {self.errors()}")

    def errors(self):
        with open(self.err_path) as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait()


class EventReader:
    """GET /api/v1/events?traffic=1 read on a thread; what arrived is kept."""

    def __init__(self, url):
        self.lines = []
        self.response = urllib.request.urlopen(url + "/api/v1/events?traffic=1", timeout=60)
        threading.Thread(target=self._read, daemon=True).start()
        wait_until("the event stream's hello", lambda: "event: hello" in self.lines)

    def _read(self):
        try:
            for raw in self.response:
                self.lines.append(raw.decode().rstrip("\n"))
        except Exception:
            pass

    def sent(self):
        out = []
        for line in list(self.lines):
            if line.startswith("data: ") and '"direction":"sent"' in line:
                out.append(json.loads(line[6:])["line"])
        return out


def http(url, headers=None, method="GET", data=None):
    req = urllib.request.Request(url, headers=headers or {}, method=method, data=data)
    try:
        with urllib.request.urlopen(req, timeout=10) as r:
            return r.status, dict(r.headers), r.read()
    except urllib.error.HTTPError as e:
        return e.code, dict(e.headers), e.read()


def browser():
    options = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1024,768",
              "--force-prefers-reduced-motion"):
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=ChromeService(executable_path=shutil.which("chromedriver")),
                              options=options)
    # The layout viewport exactly 1024x768, as on the HMI.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1024, "height": 768, "deviceScaleFactor": 1, "mobile": False})
    return driver


def by_name(driver, name):
    return driver.find_element(By.CSS_SELECTOR, f'[aria-label="{name}"]')


def connected(driver, controller):
    return wait_until(f"{controller} connected on the page", lambda: driver.execute_script(
        "const h=[...document.querySelectorAll('.controller h2')].find(e=>e.textContent===arguments[0]);"
        "return h && !h.closest('.controller').querySelector('fieldset').disabled"
        " && h.closest('.controller').querySelector('[aria-label=CH1]').value !== undefined", controller))


def console_errors(driver, expected=()):
    """The console's errors (the log is drained: ask once), but for those of the refusals the
    test provokes itself (Chrome logs every 4xx answer)."""
    return [e for e in driver.get_log("browser")
            if e["level"] == "SEVERE" and not any(x in e["message"] for x in expected)]


def requested_urls(driver):
    """Every URL the page asked for so far (the performance log is drained: ask once)."""
    urls = driver.execute_script(
        "return performance.getEntries().filter(e=>e.name.includes('://')).map(e=>e.name)")
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message.get("method") == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    return urls


def foreign_requests(driver, origin):
    return [u for u in requested_urls(driver) if not u.startswith(origin + "/") and not u.startswith("data:")]


def set_number(driver, name, value):
    field = by_name(driver, name)
    field.click()
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys(str(value), Keys.ENTER)


def check_sse_parser(driver):
    """The page's event stream parser, run in the page, with the stream split anywhere."""
    parsed = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        import('/sse.js').then(({SseParser}) => {
          const stream = 'event: hello\\ndata: {}\\n\\n: keep-alive\\n\\nevent: change\\r\\ndata: {"a":1}\\r\\n\\r\\n'
                       + 'data: x\\ndata: y\\n\\nevent: empty\\n\\n';
          const splits = [[stream], stream.split(''), [stream.slice(0, 7), stream.slice(7, 30), stream.slice(30)]];
          done(splits.map(chunks => {
            const p = new SseParser();
            return JSON.stringify(chunks.flatMap(c => p.push(c)));
          }));
        });""")
    expected = json.dumps([{"type": "hello", "data": "{}"}, {"type": "change", "data": '{"a":1}'},
                           {"type": "message", "data": "x\ny"}], separators=(",", ":"))
    for p in parsed:
        check(p == expected, f"SSE parsed as {p}, not {expected}")


def check_layout(driver, channels):
    """1024x768: the model's channels all shown (no more), no horizontal scrolling, every control
    named as the desktop panel names it and big enough to touch."""
    check(driver.execute_script("const e=document.scrollingElement; return e.scrollWidth <= e.clientWidth"),
          "the page scrolls sideways at 1024x768")
    for n in range(1, 17):
        for name in (f"CH{n}", f"CH{n} value", f"CH{n} on"):
            control = by_name(driver, name)
            check(control.is_displayed() == (n <= channels), f"{name} shown: {control.is_displayed()}")
            if n <= channels:
                check(control.size["height"] >= 44, f"{name} is {control.size['height']} px high")
    for n in range(1, 5):
        for name in (f"Trigger{n}", f"Trigger{n} edge", f"Trigger{n} Delay", f"Trigger{n} ON time"):
            check(by_name(driver, name).is_displayed(), f"{name} is not shown")
    for button in driver.find_elements(By.TAG_NAME, "button"):
        if button.is_displayed():
            check(button.size["height"] >= 44, f"button {button.text} is {button.size['height']} px high")


def scenario_live(args, workdir):
    # --simulate as users run it, but on a free port: other suites may be using the default.
    config = os.path.join(workdir, "free-port.toml")
    with open(config, "w") as f:
        f.write('listen = "127.0.0.1:0"\n')
    svc = Child([args.lumitraxd, "--simulate", "--config", config], workdir, "simulate")
    drivers = []
    try:
        url = svc.first_line
        check(url.startswith("http://127.0.0.1:"), f"--simulate printed {url!r}")
        # The headers, as a client sees them.
        status, headers, body = http(url + "/")
        check(status == 200 and headers["Content-Type"].startswith("text/html"), f"/: {status} {headers}")
        check(headers["Content-Security-Policy"].startswith("default-src 'self'"), headers)
        check(headers["X-Content-Type-Options"] == "nosniff", headers)
        status, again, _ = http(url + "/", {"If-None-Match": headers["ETag"]})
        check(status == 304, f"revalidation answered {status}")
        for path, kind in (("/app.js", "text/javascript"), ("/style.css", "text/css"), ("/lumitrax.png", "image/png")):
            status, h, _ = http(url + path)
            check(status == 200 and h["Content-Type"].startswith(kind) and h.get("ETag"), f"{path}: {status} {h}")
        check(http(url + "/no-such.js")[0] == 404, "an unknown file is not 404")

        events = EventReader(url)
        a, b = browser(), browser()
        drivers += [a, b]
        for d in (a, b):
            d.get(url)
            connected(d, "sim")

        errors = console_errors(a)
        check(not errors, f"console errors: {errors}")
        check_sse_parser(b)
        foreign = foreign_requests(a, url)
        check(not foreign, f"requests to another host: {foreign}")
        check_layout(a, 8)  # the simulator's default model

        # Drag CH3: the trailing value reaches the wire, spaced sends, and the other browser.
        # When the page calls fetch() for CH3 (resource timing adds the network's own delays).
        a.execute_script("""window.ch3Sends = []; const fetchNow = window.fetch;
            window.fetch = (url, init) => {
              if (String(url).endsWith('/channels/3')) window.ch3Sends.push(performance.now());
              return fetchNow(url, init);
            };""")
        slider = by_name(a, "CH3")
        width = slider.size["width"]
        drag = ActionChains(a, duration=20).move_to_element_with_offset(slider, -width // 2 + 12, 0).click_and_hold()
        for _ in range(12):
            drag.move_by_offset(width // 20, 0)
        drag.release().perform()
        value = int(slider.get_attribute("value"))
        check(value > 0, "the drag moved nothing")
        wait_until(f"'# 2 {value}' on the simulator's wire", lambda: f"# 2 {value}" in events.sent())
        starts = a.execute_script("return window.ch3Sends")
        check(len(starts) >= 1, "no request for CH3")
        gaps = [t2 - t1 for t1, t2 in zip(starts, starts[1:])]
        check(all(g >= 45 for g in gaps), f"CH3 sent faster than once per 50 ms: {gaps}")
        wait_until("the second browser's CH3", lambda: by_name(b, "CH3").get_attribute("value") == str(value))
        wait_until("the second browser's CH3 value", lambda: by_name(b, "CH3 value").get_attribute("value") == str(value))

        # A value the service refuses: its message beside the row, and the row back as it was.
        set_number(a, "CH3 value", 5000)
        wait_until("the refusal beside CH3", lambda: "0..1024" in by_name(a, "CH3").find_element(
            By.XPATH, "..").text)
        wait_until("CH3 back to the controller's value", lambda: by_name(a, "CH3 value").get_attribute("value") == str(value))
        check(not any(line.startswith("# 2 5000") for line in events.sent()), "a refused value reached the wire")

        # Switched in one browser, seen in the other; a trigger row likewise.
        was_on = by_name(b, "CH3 on").is_selected()
        by_name(b, "CH3 on").click()
        wait_until("CH3 switched in the first browser", lambda: by_name(a, "CH3 on").is_selected() != was_on)
        wait_until("CH3 switched on the wire", lambda: any(line.startswith("setonex") for line in events.sent()))
        set_number(a, "Trigger2 Delay", 250)
        wait_until("Trigger2 Delay in the second browser", lambda: by_name(b, "Trigger2 Delay").get_attribute("value") == "250")
        # All on from one browser (a channel list): every channel on in the other.
        a.find_element(By.XPATH, "//button[text()='All on']").click()
        wait_until("all on in the second browser",
                   lambda: all(by_name(b, f"CH{n} on").is_selected() for n in range(1, 9)))
        wait_until("the change in the second browser's events",
                   lambda: "channel 3 brightness" in b.find_element(By.ID, "events").text)

        refused = ["/channels/3 - Failed to load resource: the server responded with a status of 400"]
        errors = console_errors(a, refused) + console_errors(b)
        check(not errors, f"console errors after the changes: {errors}")
    finally:
        for d in drivers:
            d.quit()
        svc.stop()


def scenario_recipe_and_loss(args, workdir):
    link = os.path.join(workdir, "lx")
    os.makedirs(os.path.join(workdir, "recipes"))
    with open(os.path.join(workdir, "recipes", "bright.toml"), "w") as f:
        f.write('name = "bright"\nbrightness = [300, 301]\non = [1, 2]\n')
    config = os.path.join(workdir, "line.toml")
    with open(config, "w") as f:
        f.write(f'listen = "127.0.0.1:0"\nrecipes = "{workdir}/recipes"\n[controllers.line]\ntarget = "{link}"\n')
    sim = Child([args.sim, "--link", link, "--channels", "16"], workdir, "sim-line")
    svc = Child([args.lumitraxd, "--config", config], workdir, "line")
    d = browser()
    try:
        d.get(svc.first_line)
        connected(d, "line")
        wait_until("the recipe listed", lambda: Select(by_name(d, "Recipe")).select_by_value("bright") or True)
        d.find_element(By.XPATH, "//button[text()='Apply recipe']").click()
        wait_until("the recipe's report", lambda: "bright: applied and verified" in d.find_element(By.CLASS_NAME, "report").text)
        wait_until("CH2 from the recipe", lambda: by_name(d, "CH2 value").get_attribute("value") == "301")
        check(by_name(d, "CH1 on").is_selected() and not by_name(d, "CH3 on").is_selected(), "the recipe's on set")
        check_layout(d, 16)
        # A bright memory saved and loaded back: the load's values shown from its event.
        Select(by_name(d, "Bright memory index")).select_by_value("3")
        set_number(d, "CH9 value", 900)
        wait_until("CH9 set", lambda: "channel 9 brightness 900" in d.find_element(By.ID, "events").text)
        by_name(d, "Save bright memory").click()
        wait_until("the memory saved", lambda: "save bright memory 3" in d.find_element(By.ID, "events").text)
        set_number(d, "CH9 value", 10)
        wait_until("CH9 changed", lambda: "channel 9 brightness 10 " in d.find_element(By.ID, "events").text)
        by_name(d, "Load bright memory").click()
        wait_until("CH9 from the memory", lambda: by_name(d, "CH9 value").get_attribute("value") == "900")
        if args.screenshot:
            for n, level in ((4, 640), (5, 1024), (8, 420), (11, 760), (12, 760), (16, 200)):
                set_number(d, f"CH{n} value", level)
            for n in (4, 5, 11):
                by_name(d, f"CH{n} on").click()
            wait_until("the screenshot's values", lambda: "channel 11 on" in d.find_element(By.ID, "events").text)
            d.execute_script("document.activeElement.blur(); window.scrollTo(0, 0)")
            d.save_screenshot(args.screenshot)
        # The report of a recipe that differs, as the service sends it (409), field by field.
        rows = d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            import('/recipe.js').then(({showReport}) => {
              const box = document.createElement('div');
              showReport(box, 'top', {result: 'differs', error: '', differences: [
                {field: 'brightness 3', wanted: '512', found: '600'}, {field: 'on 4', wanted: 'true', found: 'false'}]});
              done([box.querySelector('.result').textContent,
                    ...[...box.querySelectorAll('tbody tr')].map(r => [...r.cells].map(c => c.textContent).join('|'))]);
            });""")
        check(rows == ["top: differs in 2 field(s)", "brightness 3|512|600", "on 4|true|false"], rows)

        # Lost: the simulator ends; the controls grey and say so. Back: a simulator on the same link.
        sim.stop()
        wait_until("the controls greyed", lambda: not by_name(d, "CH1").is_enabled())
        wait_until("the loss said", lambda: "controls return" in d.find_element(By.CLASS_NAME, "lost-note").text)
        sim = Child([args.sim, "--link", link, "--channels", "16"], workdir, "sim-line-2")
        wait_until("the controls back", lambda: by_name(d, "CH1").is_enabled(), timeout=30)
        wait_until("the badge connected", lambda: d.find_element(By.CLASS_NAME, "badge").text == "connected")
        errors = console_errors(d)
        check(not errors, f"console errors: {errors}")
    finally:
        d.quit()
        svc.stop()
        sim.stop()


def scenario_token(args, workdir):
    token = "web-panel-token-0123456789"
    token_file = os.path.join(workdir, "token")
    with open(token_file, "w") as f:
        f.write(token + "\n")
    os.chmod(token_file, 0o600)
    sim = Child([args.sim], workdir, "sim-token")
    config = os.path.join(workdir, "token.toml")
    with open(config, "w") as f:
        f.write(f'listen = "127.0.0.1:0"\ntoken_file = "{token_file}"\n[controllers.guarded]\ntarget = "{sim.first_line}"\n')
    svc = Child([args.lumitraxd, "--config", config], workdir, "token")
    d = browser()
    try:
        url = svc.first_line
        check(http(url + "/api/v1/controllers")[0] == 401, "the API answers without the token")
        d.get(url)
        dialog = d.find_element(By.ID, "token-dialog")
        wait_until("the token asked for", lambda: dialog.get_attribute("open") is not None)
        # Declined: not asked again by itself, but on the user's word.
        d.find_element(By.ID, "token-field").send_keys(Keys.ESCAPE)
        again = d.find_element(By.ID, "token-again")
        wait_until("a way to give the token later", lambda: again.is_displayed())
        check(dialog.get_attribute("open") is None, "the dialog stays open after Escape")
        again.click()
        wait_until("the token asked for again", lambda: dialog.get_attribute("open") is not None)
        d.find_element(By.ID, "token-field").send_keys("wrong-token-000000000", Keys.ENTER)
        wait_until("the token asked again", lambda: d.find_element(By.ID, "token-wrong").is_displayed())
        d.find_element(By.ID, "token-field").send_keys(token, Keys.ENTER)
        connected(d, "guarded")
        wait_until("the event stream open with the token", lambda: d.find_element(By.ID, "stream-state").text == "Live")
        check(d.execute_script("return sessionStorage.getItem('lumitrax.token')") == token, "the token is not kept")
        # Reloaded, the tab keeps it: not asked again.
        d.refresh()
        connected(d, "guarded")
        check(d.find_element(By.ID, "token-dialog").get_attribute("open") is None, "asked again after a reload")
        word = "off" if by_name(d, "CH5 on").is_selected() else "on"
        by_name(d, "CH5 on").click()
        wait_until("CH5 switched with the token", lambda: f"channel 5 {word}" in d.find_element(By.ID, "events").text)
        leaked = [u for u in requested_urls(d) if token in u]
        check(not leaked, f"the token is in a URL: {leaked}")
    finally:
        d.quit()
        svc.stop()
        sim.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--lumitraxd", required=True)
    p.add_argument("--sim", required=True)
    p.add_argument("--screenshot")
    args = p.parse_args()
    if not (shutil.which("chromium") and shutil.which("chromedriver")):
        print("SKIP: chromium or chromedriver is not installed")
        return 77
    with tempfile.TemporaryDirectory() as workdir:
        for name, run in (("live", lambda: scenario_live(args, workdir)),
                          ("recipe and loss", lambda: scenario_recipe_and_loss(args, os.path.join(workdir, "r"))),
                          ("token", lambda: scenario_token(args, workdir))):
            if name == "recipe and loss":
                os.makedirs(os.path.join(workdir, "r"))
            started = time.monotonic()
            run()
            print(f"ok: {name} ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
