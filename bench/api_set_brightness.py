"""1000 (or argv[2]) set_brightness calls through the Python module on one target, the Python
side of bench/python_overhead.sh. Prints the total and the time per call."""

import sys
import time

import lumitrax


def main():
    target = sys.argv[1]
    calls = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    with lumitrax.Controller(target) as c:
        for i in range(10):  # warm-up, as on the C++ side
            c.set_brightness(1 + i % 16, i)
        start = time.perf_counter()
        for i in range(calls):
            c.set_brightness(1 + i % 16, i % 1025)
        s = time.perf_counter() - start
        # The binding's own cost of a call, without the line: a property read.
        reads = 100000
        start = time.perf_counter()
        for _ in range(reads):
            c.timeout
        r = time.perf_counter() - start
    print(f"Python  {calls} set_brightness: {s:.3f} s, {s / calls * 1e6:.1f} us per call"
          f" (a call without the line: {r / reads * 1e6:.2f} us)")


if __name__ == "__main__":
    main()
