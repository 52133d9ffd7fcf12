"""lumitraxd against lumitrax-sim, measured as its clients see it.

    python3 bench/service_bench.py [BUILD_DIR] [--requests N] [--clients C] [--per-client M] [--many K]

Prints, each beside what it is compared with:
- PUT /api/v1/controllers/sim/channels/3 over one kept-alive connection: median and 99th
  percentile, beside the same set_brightness made through the Python module directly (itself
  about 0.1 ms over the C++ call, see python_overhead.sh) on a second simulator;
- C clients making M requests each on one controller: every request answered, and the values
  each client sent reached the wire in the order it sent them (the simulator's transcript);
- the time from a PUT's answer to its change event on an SSE stream;
- resident memory and CPU of the idle service with one controller, and with K controllers.
"""

import argparse
import http.client
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def start_sim(build, folder, name, extra=()):
    out = open(os.path.join(folder, name + ".out"), "w+")
    transcript = os.path.join(folder, name + ".transcript")
    p = subprocess.Popen([os.path.join(build, "sim/lumitrax-sim"), "--channels", "16", "--transcript",
                          transcript, *extra], stdout=out, stderr=subprocess.DEVNULL)
    for _ in range(100):
        out.seek(0)
        path = out.readline().strip()
        if path:
            return p, path, transcript
        time.sleep(0.05)
    raise SystemExit("the simulator printed no device path")


def start_service(build, folder, targets):
    config = os.path.join(folder, "lumitraxd.toml")
    with open(config, "w") as f:
        f.write('listen = "127.0.0.1:0"\n')
        for name, target in targets:
            f.write(f'[controllers.{name}]\ntarget = "{target}"\n')
    p = subprocess.Popen([os.path.join(build, "service/lumitraxd"), "--config", config],
                         stdout=subprocess.PIPE, stderr=open(os.path.join(folder, "lumitraxd.err"), "w"), text=True)
    url = p.stdout.readline().strip()
    if not url.startswith("http://"):
        raise SystemExit("lumitraxd printed no URL; see " + folder)
    host, port = url[len("http://"):].rsplit(":", 1)
    return p, host, int(port)


def request(conn, method, path, body=None):
    headers = {"Content-Type": "application/json"} if body is not None else {}
    conn.request(method, path, body=json.dumps(body) if body is not None else None, headers=headers)
    r = conn.getresponse()
    data = r.read()
    return r.status, data


def wait_ready(host, port, names):
    conn = http.client.HTTPConnection(host, port, timeout=30)
    for _ in range(600):
        status, data = request(conn, "GET", "/api/v1/controllers")
        states = {c["name"]: c["connection"] for c in json.loads(data)["controllers"]}
        if status == 200 and all(states.get(n) == "connected" for n in names):
            return
        time.sleep(0.05)
    raise SystemExit("controllers not connected: " + str(states))


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, int(round(p / 100 * (len(s) - 1))))]


def rss_and_cpu(pid, seconds):
    def ticks():
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    t0 = ticks()
    time.sleep(seconds)
    used = (ticks() - t0) / os.sysconf("SC_CLK_TCK")
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    return rss / 1024, used / seconds * 100


def single_latency(host, port, n):
    conn = http.client.HTTPConnection(host, port, timeout=30)
    times = []
    for i in range(n):
        t = time.perf_counter()
        status, data = request(conn, "PUT", "/api/v1/controllers/sim/channels/3", {"brightness": i % 1025})
        times.append((time.perf_counter() - t) * 1000)
        if status != 200:
            raise SystemExit(f"PUT answered {status}: {data!r}")
    return times


def direct_latency(build, folder, n):
    sys.path.insert(0, os.path.join(build, "python"))
    try:
        import lumitrax
    except ImportError:
        return None
    sim, path, _ = start_sim(build, folder, "direct")
    try:
        times = []
        with lumitrax.Controller(path) as c:
            c.set_brightness(3, 0)
            for i in range(n):
                t = time.perf_counter()
                c.set_brightness(3, i % 1025)
                times.append((time.perf_counter() - t) * 1000)
        return times
    finally:
        sim.terminate()
        sim.wait()


def many_clients(host, port, clients, per_client, transcript):
    answered = [0] * clients
    failures = []

    def client(k):
        conn = http.client.HTTPConnection(host, port, timeout=120)
        channel = k % 16 + 1
        for i in range(per_client):
            # Each client owns one channel; its values go up, so the wire shows its order.
            status, data = request(conn, "PUT", f"/api/v1/controllers/sim/channels/{channel}",
                                   {"brightness": (k // 16) * per_client + i})
            if status == 200:
                answered[k] += 1
            else:
                failures.append((k, i, status, data))

    with open(transcript) as f:
        already = len(f.readlines())  # what the earlier measurements sent
    threads = [threading.Thread(target=client, args=(k,)) for k in range(clients)]
    t = time.perf_counter()
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    seconds = time.perf_counter() - t
    seen = {}
    with open(transcript) as f:
        for line in f.readlines()[already:]:
            parts = line.split()
            if len(parts) == 3 and parts[0] == "#":
                seen.setdefault(int(parts[1]) + 1, []).append(int(parts[2]))
    in_order = all(v == sorted(v) for v in seen.values())
    return sum(answered), failures, in_order, seconds


def event_delay(host, port, n):
    events = http.client.HTTPConnection(host, port, timeout=30)
    events.request("GET", "/api/v1/events")
    stream = events.getresponse()
    arrived = {}
    done = threading.Event()

    def read():
        while not done.is_set():
            line = stream.fp.readline()
            if not line:
                return
            if line.startswith(b"data:") and b"channel 4 brightness" in line:
                value = int(line.split(b"channel 4 brightness ")[1].split()[0].rstrip(b'"},'))
                arrived[value] = time.perf_counter()

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    time.sleep(0.5)
    conn = http.client.HTTPConnection(host, port, timeout=30)
    delays = []
    for i in range(n):
        value = 1 + i
        request(conn, "PUT", "/api/v1/controllers/sim/channels/4", {"brightness": value})
        answered = time.perf_counter()
        for _ in range(2000):
            if value in arrived:
                break
            time.sleep(0.0005)
        if value in arrived:
            delays.append((arrived[value] - answered) * 1000)
    done.set()
    return delays


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build/plain")
    ap.add_argument("--requests", type=int, default=300)
    ap.add_argument("--clients", type=int, default=16)
    ap.add_argument("--per-client", type=int, default=100)
    ap.add_argument("--many", type=int, default=64)
    a = ap.parse_args()
    folder = tempfile.mkdtemp(prefix="lumitraxd-bench-")
    print(f"== {os.cpu_count()} cores, load {open('/proc/loadavg').read().split()[0:3]}, files in {folder}")

    sim, path, transcript = start_sim(a.build, folder, "sim")
    service, host, port = start_service(a.build, folder, [("sim", path)])
    try:
        wait_ready(host, port, ["sim"])
        rss, cpu = rss_and_cpu(service.pid, 10)
        print(f"idle, 1 controller:       {rss:6.1f} MB resident, {cpu:.2f} % of a core (10 s)")

        via = single_latency(host, port, a.requests)
        direct = direct_latency(a.build, folder, a.requests)
        print(f"PUT channels/3, {a.requests}x:    median {statistics.median(via):6.2f} ms, p99 {percentile(via, 99):6.2f} ms")
        if direct:
            print(f"set_brightness direct:    median {statistics.median(direct):6.2f} ms, p99 {percentile(direct, 99):6.2f} ms"
                  f"   -> service adds {statistics.median(via) - statistics.median(direct):.2f} ms median,"
                  f" {percentile(via, 99) - percentile(direct, 99):.2f} ms p99")

        delays = event_delay(host, port, 100)
        if delays:
            print(f"event after PUT's answer: median {statistics.median(delays):6.2f} ms, max {max(delays):6.2f} ms"
                  f" ({len(delays)} of 100 seen)")

        total, failures, in_order, seconds = many_clients(host, port, a.clients, a.per_client, transcript)
        print(f"{a.clients} clients x {a.per_client}:      {total} of {a.clients * a.per_client} answered 200,"
              f" {len(failures)} failed, per-client order on the wire {'kept' if in_order else 'BROKEN'},"
              f" {seconds:.1f} s ({seconds / max(total, 1) * 1000:.2f} ms a request)")
    finally:
        service.terminate()
        service.wait()
        sim.terminate()
        sim.wait()

    if a.many > 0:
        sims = [start_sim(a.build, folder, f"m{k}") for k in range(a.many)]
        service, host, port = start_service(a.build, folder, [(f"m{k}", s[1]) for k, s in enumerate(sims)])
        try:
            wait_ready(host, port, [f"m{k}" for k in range(a.many)])
            rss, cpu = rss_and_cpu(service.pid, 10)
            print(f"idle, {a.many} controllers:     {rss:6.1f} MB resident, {cpu:.2f} % of a core (10 s)")
        finally:
            service.terminate()
            service.wait()
            for s in sims:
                s[0].terminate()
                s[0].wait()


if __name__ == "__main__":
    main()
