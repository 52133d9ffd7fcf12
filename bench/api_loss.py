"""How soon a Controller notices that its device went away, with no call in flight.

    python3 bench/api_loss.py [BUILD_DIR] [--runs N]

Opens a Controller on a fresh lumitrax-sim, asks one question, kills the simulator (its
pseudo-terminal hangs up) and times how long the Controller's state stays "connected".
Idle Controllers are not polled: the hang-up is reported by the link as it happens.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build/plain")
    ap.add_argument("--runs", type=int, default=20)
    a = ap.parse_args()
    sys.path.insert(0, os.path.join(a.build, "python"))
    import lumitrax

    times = []
    for _ in range(a.runs):
        sim = subprocess.Popen([os.path.join(a.build, "sim/lumitrax-sim"), "--channels", "16"],
                               stdout=subprocess.PIPE, text=True)
        with lumitrax.Controller(sim.stdout.readline().strip()) as c:
            c.error_status()
            t = time.perf_counter()
            sim.kill()
            sim.wait()
            while c.is_connected and time.perf_counter() - t < 10:
                time.sleep(0.0005)
            times.append((time.perf_counter() - t) * 1000)
    print(f"loss noticed after: median {statistics.median(times):.1f} ms, max {max(times):.1f} ms ({a.runs} runs)")


if __name__ == "__main__":
    main()
