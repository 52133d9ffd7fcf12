#!/usr/bin/env bash
# Soak: the panel runs test program 0 on 16 channels against lumitrax-sim for MINUTES (default
# 10) and reports resident memory at start and end, the commands the simulator received, the
# message list's size (kept to the newest 100,000 lines) and the time a click takes at the end.
#   bench/soak.sh [MINUTES]        (BUILD=build/bench by default; built here when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
build=${BUILD:-build/bench}

cmake -S . -B "$build" -G Ninja -DLUMITRAX_BENCH=ON -DLUMITRAX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
nice cmake --build "$build" -j 2 --target soak_panel lumitrax-sim >/dev/null

work=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

"$build/sim/lumitrax-sim" --channels 16 --transcript "$work/transcript.txt" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
done
device=$(head -n 1 "$work/sim.out")
[ -n "$device" ] || { echo "soak: the simulator reported no device" >&2; exit 1; }

echo "soak: $minutes min of test program 0 (ramp all), 16 channels, on $device"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/soak_panel" "$device" $((minutes * 60))
# The transcript is complete once the simulator has stopped.
kill -TERM "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
echo "simulator received $(wc -l <"$work/transcript.txt") commands"
