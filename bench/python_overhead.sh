#!/usr/bin/env bash
# The Python module's overhead: 1000 set_brightness calls from Python and the same from C++,
# each against a fresh lumitrax-sim, alternating, three rounds. Builds what it needs into
# build/bench (Release). Usage: bench/python_overhead.sh [CALLS]
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${1:-1000}
build=build/bench

cmake -S . -B "$build" -G Ninja -DLUMITRAX_BENCH=ON -DLUMITRAX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
nice cmake --build "$build" -j 2 --target api_set_brightness lumitrax_python lumitrax-sim
python=$(sed -n 's/^Python3_EXECUTABLE:FILEPATH=//p' "$build/CMakeCache.txt")

with_sim() {  # with_sim <command...>: runs the command with the simulator's device path last
    local out pid path
    out=$(mktemp)
    "$build/sim/lumitrax-sim" >"$out" &
    pid=$!
    for _ in $(seq 50); do
        path=$(head -n 1 "$out")
        [ -n "$path" ] && break
        sleep 0.1
    done
    "$@" "$path" "$calls" || true
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    rm -f "$out"
}

echo "== $calls calls per run, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for round in 1 2 3; do
    with_sim env PYTHONPATH="$build/python" "$python" bench/api_set_brightness.py
    with_sim "$build/bench/api_set_brightness"
done
