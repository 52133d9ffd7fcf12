#!/usr/bin/python3
"""lumitraxd on MQTT, measured (nothing asserted): Debian's mosquitto on 127.0.0.1, lumitrax-sim
controllers on pseudo-terminals, paho (Debian's python3-paho-mqtt) as the plant's side.

    bench/mqtt_bench.py BUILD_DIR [--controllers 64] [--sets 100] [--idle 30]

1. set latency: a set command's publication until its line is in the simulator's transcript
   (one controller, one service), median and p99 in ms;
2. idle: state messages published by one service with N controllers over --idle seconds while
   nothing changes (state_interval_s 60, longer than the count);
3. fleet apply: `lumitrax fleet apply` to N controllers against one controller's, wall time
   (target: N within 1.3x of one plus 100 ms).
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import mqtt_harness as h  # noqa: E402
import paho.mqtt.client as mqtt  # noqa: E402


def program(build, path):
    return os.path.join(build, path)


class Counter:
    def __init__(self, port, topic):
        self.count = 0
        self.last = time.monotonic()
        self.topics = set()
        self.lock = threading.Lock()
        self.client = mqtt.Client()
        self.client.on_message = self.on_message
        self.client.connect("127.0.0.1", port)
        self.client.subscribe(topic, qos=1)
        self.client.loop_start()

    def on_message(self, client, userdata, msg):
        with self.lock:
            self.count += 1
            self.last = time.monotonic()
            self.topics.add(msg.topic)

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def set_latency(build, folder, broker, sets):
    sim = h.Sim(program(build, "sim/lumitrax-sim"), os.path.join(folder, "lat.txt"))
    recipes = os.path.join(folder, "recipes")
    svc = h.Service(program(build, "service/lumitraxd"), folder, "lat", [("c", sim.device)], broker.url,
                    "bench/lat", recipes, interval=60)
    client = mqtt.Client()
    client.connect("127.0.0.1", broker.port)
    client.loop_start()
    counter = Counter(broker.port, "bench/lat/c/state")
    h.wait_for(lambda: counter.count > 0, 20, "the first state")
    times = []
    for i in range(sets):
        value = 1 + i % 1000
        line = "# 0 %d\n" % value
        size = os.path.getsize(sim.transcript)
        start = time.monotonic()
        client.publish("bench/lat/c/set", json.dumps({"id": "l%d" % i, "channel": 1, "brightness": value}), qos=1)
        while True:
            with open(sim.transcript) as f:
                f.seek(size)
                if line in f.read():
                    break
            time.sleep(0.0005)
        times.append((time.monotonic() - start) * 1000)
        time.sleep(0.02)
    client.loop_stop()
    counter.close()
    svc.stop()
    sim.stop()
    times.sort()
    return statistics.median(times), times[min(len(times) - 1, int(len(times) * 0.99))]


def fleet_apply(cli, broker, where):
    start = time.monotonic()
    r = subprocess.run([cli, "fleet", "--broker", broker.url, "apply", "housing-a12-top", "--where", where,
                        "--timeout", "120"], capture_output=True, text=True)
    elapsed = time.monotonic() - start
    return elapsed, r.returncode, r.stdout.strip().splitlines()[-1:] + r.stderr.strip().splitlines()[-1:]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--controllers", type=int, default=64)
    ap.add_argument("--sets", type=int, default=100)
    ap.add_argument("--idle", type=int, default=30)
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    cli = program(build, "cli/lumitrax")
    with tempfile.TemporaryDirectory() as folder:
        recipes = os.path.join(folder, "recipes")
        h.write_recipe(recipes)
        broker = h.Broker(folder)
        try:
            median, p99 = set_latency(build, folder, broker, a.sets)
            print("set -> transcript: median %.1f ms, p99 %.1f ms (%d sets)" % (median, p99, a.sets))

            sims = [h.Sim(program(build, "sim/lumitrax-sim"), os.path.join(folder, "s%02d.txt" % i))
                    for i in range(a.controllers)]
            try:
                svc = h.Service(program(build, "service/lumitraxd"), folder, "many",
                                [("c%02d" % i, s.device) for i, s in enumerate(sims)], broker.url, "bench/many",
                                recipes, interval=60)
                counter = Counter(broker.port, "bench/many/+/state")
                h.wait_for(lambda: len(counter.topics) == a.controllers, 120, "every controller's first state")
                # Settled: each controller read after it connected, and 5 s without a message.
                h.wait_for(lambda: time.monotonic() - counter.last > 5, 300, "a quiet moment")
                before = counter.count
                time.sleep(a.idle)
                print("idle: %d state messages from %d controllers in %d s (interval 60 s)"
                      % (counter.count - before, a.controllers, a.idle))
                counter.close()

                one, rc1, out1 = fleet_apply(cli, broker, "bench/many/c00")
                many, rcn, outn = fleet_apply(cli, broker, "bench/many/#")
                print("fleet apply: 1 controller %.0f ms (exit %d: %s)" % (one * 1000, rc1, " / ".join(out1)))
                print("fleet apply: %d controllers %.0f ms (exit %d: %s)" % (a.controllers, many * 1000, rcn,
                                                                            " / ".join(outn)))
                print("ratio %.2f (target <= 1.3 x one + 100 ms = %.0f ms)"
                      % (many / one, (1.3 * one + 0.1) * 1000))
                svc.stop()
            finally:
                for s in sims:
                    s.stop()
        finally:
            broker.stop()


if __name__ == "__main__":
    main()
