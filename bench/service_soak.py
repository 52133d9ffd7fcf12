"""lumitraxd under a steady load for a long time, with one controller pulled and put back.

    python3 bench/service_soak.py [BUILD_DIR] [--seconds S] [--clients C] [--unplug-every U]

Two simulated controllers, "a" and "b", each behind a fixed link path, and C clients (half on
each) making PUT and GET requests as fast as the service answers them. Every U seconds the
simulator behind "a" is stopped, left away for 5 s and started again on the same path.

Prints a line a minute (resident memory, requests answered by status per controller) and at the
end: resident memory at the first minute, the end and its highest; what "b" answered while "a"
was away (every request 200 is the aim); for each pull, how long until a client of "a" got 503
and how long after the simulator's return until it got 200 again.
"""

import argparse
import collections
import http.client
import os
import subprocess
import tempfile
import threading
import time

from service_bench import request, rss_and_cpu, start_service, wait_ready


def start_linked_sim(build, folder, name):
    link = os.path.join(folder, name + ".tty")
    p = subprocess.Popen([os.path.join(build, "sim/lumitrax-sim"), "--channels", "16", "--link", link],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(link):
            return p, link
        time.sleep(0.05)
    raise SystemExit("the simulator made no link " + link)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build/plain")
    ap.add_argument("--seconds", type=int, default=3600)
    ap.add_argument("--clients", type=int, default=8)
    ap.add_argument("--unplug-every", type=int, default=300)
    a = ap.parse_args()
    folder = tempfile.mkdtemp(prefix="lumitraxd-soak-")
    print(f"== {os.cpu_count()} cores, files in {folder}", flush=True)

    sims = {name: start_linked_sim(a.build, folder, name) for name in ("a", "b")}
    service, host, port = start_service(a.build, folder, [(n, sims[n][1]) for n in ("a", "b")])
    wait_ready(host, port, ["a", "b"])

    lock = threading.Lock()
    counts = {"a": collections.Counter(), "b": collections.Counter()}
    first_after = {}  # (controller, status) -> time of the first such answer after a mark
    marks = {}
    stop = threading.Event()

    def client(k):
        name = "a" if k % 2 == 0 else "b"
        conn = http.client.HTTPConnection(host, port, timeout=30)
        i = 0
        while not stop.is_set():
            try:
                if i % 2 == 0:
                    status, _ = request(conn, "PUT", f"/api/v1/controllers/{name}/channels/{k % 16 + 1}",
                                        {"brightness": i % 1025})
                else:
                    status, _ = request(conn, "GET", f"/api/v1/controllers/{name}/status")
            except (OSError, http.client.HTTPException):
                status = "io"
                conn = http.client.HTTPConnection(host, port, timeout=30)
            now = time.monotonic()
            with lock:
                counts[name][status] += 1
                for key, since in marks.items():
                    if key[0] == name and key[1] == status and key not in first_after and now >= since:
                        first_after[key] = now
            i += 1

    threads = [threading.Thread(target=client, args=(k,)) for k in range(a.clients)]
    for t in threads:
        t.start()

    rss = []
    pulls = []
    b_while_away = collections.Counter()
    start = time.monotonic()
    next_pull = start + a.unplug_every
    next_line = start + 60
    try:
        while time.monotonic() - start < a.seconds:
            now = time.monotonic()
            if now >= next_pull and now - start + 30 < a.seconds:
                with lock:
                    b_before = collections.Counter(counts["b"])
                    first_after.clear()
                    marks.clear()
                    marks[("a", 503)] = time.monotonic()
                pulled = time.monotonic()
                sims["a"][0].terminate()
                sims["a"][0].wait()
                time.sleep(5)
                sims["a"] = start_linked_sim(a.build, folder, "a")
                back = time.monotonic()
                with lock:
                    marks[("a", 200)] = back
                for _ in range(600):
                    with lock:
                        if ("a", 200) in first_after:
                            break
                    time.sleep(0.05)
                with lock:
                    b_while_away.update(counts["b"] - b_before)
                    to503 = first_after.get(("a", 503))
                    to200 = first_after.get(("a", 200))
                pulls.append(((to503 - pulled) * 1000 if to503 else None, (to200 - back) * 1000 if to200 else None))
                next_pull = time.monotonic() + a.unplug_every
            if now >= next_line:
                mb, cpu = rss_and_cpu(service.pid, 1)
                rss.append(mb)
                with lock:
                    snapshot = {n: dict(c) for n, c in counts.items()}
                print(f"{(now - start) / 60:5.1f} min  {mb:6.1f} MB  {cpu:5.1f} % CPU  {snapshot}", flush=True)
                next_line += 60
            time.sleep(0.2)
    finally:
        stop.set()
        for t in threads:
            t.join()
        service.terminate()
        service.wait()
        for p, _ in sims.values():
            p.terminate()
            p.wait()

    if rss:
        print(f"resident: {rss[0]:.1f} MB at the first minute, {rss[-1]:.1f} MB at the end, highest {max(rss):.1f} MB")
    print(f"b while a was away: {dict(b_while_away)}")
    for n, (to503, to200) in enumerate(pulls, 1):
        fmt = lambda v: f"{v:.0f} ms" if v is not None else "never"
        print(f"pull {n}: a answered 503 after {fmt(to503)}, 200 again {fmt(to200)} after its return")
    print(f"totals: {{'a': {dict(counts['a'])}, 'b': {dict(counts['b'])}}}")


if __name__ == "__main__":
    main()
