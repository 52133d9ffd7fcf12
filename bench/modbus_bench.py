"""lumitraxd's Modbus TCP server against lumitrax-sim, measured as a PLC sees it.

    /usr/bin/python3 bench/modbus_bench.py [BUILD_DIR] [--writes N] [--clients C] [--hz F] [--seconds S]

(Debian's python3, for python3-pymodbus.) Prints:
(a) an FC16 write of all 16 holding registers, answered once the controller acknowledged the
    brightness packet: median and 99th percentile over N writes, beside the same packet sent
    through the Python module directly (lumitrax.Controller.set_brightness_packet) on a second
    simulator;
(b) C clients each reading input registers 0..6 at F Hz for S seconds: answers, p50/p99
    answer time, and the commands the simulator received meanwhile, split into the status poll
    (geterrstatus, getportstatus) and anything else (which should be nothing).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from pymodbus.client import ModbusTcpClient

from service_bench import percentile, start_sim

POLL_COMMANDS = ("geterrstatus", "getportstatus")
PACKET = ("--packet", "1")  # a controller that takes the brightness packet


def start_service(build, folder, target):
    config = os.path.join(folder, "lumitraxd.toml")
    with open(config, "w") as f:
        f.write(f'listen = "127.0.0.1:0"\nmodbus = "127.0.0.1:0"\n[controllers.sim]\ntarget = "{target}"\nunit = 1\n')
    p = subprocess.Popen([os.path.join(build, "service/lumitraxd"), "--config", config], stdout=subprocess.PIPE,
                         stderr=open(os.path.join(folder, "lumitraxd.err"), "w"), text=True)
    p.stdout.readline()
    modbus = p.stdout.readline().strip()
    if not modbus.startswith("modbus://"):
        raise SystemExit("lumitraxd printed no modbus address; see " + folder)
    host, port = modbus[len("modbus://"):].rsplit(":", 1)
    return p, host, int(port)


def lines(path):
    with open(path) as f:
        return f.read().splitlines()


def modbus_writes(plc, n):
    times = []
    for i in range(n):
        values = [(i + k) % 1025 for k in range(16)]
        t = time.perf_counter()
        r = plc.write_registers(0, values, slave=1)
        times.append((time.perf_counter() - t) * 1000)
        if r.isError():
            raise SystemExit(f"FC16 answered {r}")
    return times


def direct_writes(build, folder, n):
    sys.path.insert(0, os.path.join(build, "python"))
    try:
        import lumitrax
    except ImportError:
        return None
    sim, path, _ = start_sim(build, folder, "direct", PACKET)
    try:
        times = []
        with lumitrax.Controller(path) as c:
            for i in range(n):
                values = [(i + k) % 1025 for k in range(16)]
                t = time.perf_counter()
                c.set_brightness_packet(values)
                times.append((time.perf_counter() - t) * 1000)
        return times
    finally:
        sim.terminate()
        sim.wait()


def pollers(host, port, clients, hz, seconds):
    times = [[] for _ in range(clients)]
    errors = []

    def run(k):
        plc = ModbusTcpClient(host, port=port, timeout=5)
        plc.connect()
        period = 1.0 / hz
        nxt = time.perf_counter()
        end = nxt + seconds
        while time.perf_counter() < end:
            t = time.perf_counter()
            r = plc.read_input_registers(0, 7, slave=1)
            times[k].append((time.perf_counter() - t) * 1000)
            if r.isError():
                errors.append(r)
            nxt += period
            time.sleep(max(0.0, nxt - time.perf_counter()))
        plc.close()

    threads = [threading.Thread(target=run, args=(k,)) for k in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return [x for per in times for x in per], errors


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build/plain")
    ap.add_argument("--writes", type=int, default=300)
    ap.add_argument("--clients", type=int, default=10)
    ap.add_argument("--hz", type=float, default=100)
    ap.add_argument("--seconds", type=float, default=10)
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        sim, path, transcript = start_sim(a.build, folder, "service", PACKET)
        svc, host, port = start_service(a.build, folder, path)
        try:
            plc = ModbusTcpClient(host, port=port, timeout=5)
            plc.connect()
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline:
                r = plc.read_input_registers(0, 1, slave=1)
                if not r.isError() and r.registers[0] == 1:
                    break
                time.sleep(0.05)
            time.sleep(1)  # the light and identity read after the connection are over
            mb = modbus_writes(plc, a.writes)
            plc.close()
            direct = direct_writes(a.build, folder, a.writes)
            print(f"(a) FC16, 16 registers, answered after the packet's acknowledgement ({a.writes} writes):")
            print(f"    Modbus:  median {statistics.median(mb):.2f} ms, p99 {percentile(mb, 99):.2f} ms")
            if direct:
                print(f"    direct:  median {statistics.median(direct):.2f} ms, p99 {percentile(direct, 99):.2f} ms"
                      " (Python module, set_brightness_packet)")

            before = len(lines(transcript))
            t0 = time.monotonic()
            answers, errors = pollers(host, port, a.clients, a.hz, a.seconds)
            elapsed = time.monotonic() - t0
            sent = lines(transcript)[before:]
            poll = [s for s in sent if s.split(" ")[0] in POLL_COMMANDS]
            other = [s for s in sent if s.split(" ")[0] not in POLL_COMMANDS]
            print(f"(b) {a.clients} clients reading input registers 0..6 at {a.hz:g} Hz for {elapsed:.1f} s:")
            print(f"    {len(answers)} answers ({len(answers) / elapsed:.0f}/s), {len(errors)} exceptions;"
                  f" p50 {percentile(answers, 50):.2f} ms, p99 {percentile(answers, 99):.2f} ms,"
                  f" max {max(answers):.2f} ms")
            print(f"    serial commands meanwhile: {len(poll)} of the status poll"
                  f" ({len(poll) / elapsed:.1f}/s), {len(other)} others {sorted(set(other))[:5]}")
        finally:
            svc.terminate()
            svc.wait()
            sim.terminate()
            sim.wait()


if __name__ == "__main__":
    main()
