#!/usr/bin/env bash
# Start-up and idle figures of lumitrax-panel on an X server (Xvfb), best of ROUNDS (default 3):
#  - time from process start to its main window mapped (polled with xwininfo, a few ms apart),
#    and peak resident memory (VmHWM) one second after; the same for a bare Qt window with one
#    label, as the floor;
#  - CPU share over IDLE seconds (default 30) with a port open on lumitrax-sim and the status
#    timer running.
#   bench/startup.sh [ROUNDS] [IDLE]    (BUILD=build/bench by default; built here when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$@"
fi
rounds=${1:-3}
idle=${2:-30}
build=${BUILD:-build/bench}

cmake -S . -B "$build" -G Ninja -DLUMITRAX_BENCH=ON -DLUMITRAX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
nice cmake --build "$build" -j 2 --target lumitrax-panel lumitrax-sim bare_window soak_panel >/dev/null

now_us() { echo $(($(date +%s%N) / 1000)); }

# start_once TITLE PROGRAM [ARGS...]: prints "<ms to mapped> <peak KiB>"
start_once() {
    local title=$1
    shift
    local start pid id="" mapped=""
    start=$(now_us)
    "$@" >/dev/null 2>&1 &
    pid=$!
    while [ -z "$mapped" ]; do
        if [ -z "$id" ]; then
            id=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$title" 'index($0, t) {print $1; exit}') || true
        fi
        if [ -n "$id" ] && [[ $(xwininfo -id "$id" 2>/dev/null) == *IsViewable* ]]; then
            mapped=$(now_us)
        fi
        if [ $(($(now_us) - start)) -gt 30000000 ]; then
            echo "startup: $title never mapped" >&2
            kill "$pid"
            return 1
        fi
    done
    sleep 1
    local hwm
    hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "$(((mapped - start) / 1000)) $hwm"
}

best() {  # best LABEL TITLE PROGRAM [ARGS...]
    local label=$1
    shift
    local best_ms="" best_kib="" ms kib
    for _ in $(seq "$rounds"); do
        read -r ms kib < <(start_once "$@")
        echo "  $label: ${ms} ms to mapped, peak ${kib} KiB"
        if [ -z "$best_ms" ] || [ "$ms" -lt "$best_ms" ]; then best_ms=$ms; fi
        if [ -z "$best_kib" ] || [ "$kib" -lt "$best_kib" ]; then best_kib=$kib; fi
    done
    echo "$label best of $rounds: ${best_ms} ms to mapped, peak resident ${best_kib} KiB"
}

echo "start-up on $DISPLAY (Qt platform xcb), best of $rounds"
best "bare Qt window" "bare-qt-floor" "$build/bench/bare_window"
best "lumitrax-panel" "Varnel Industry" "$build/app/lumitrax-panel"

work=$(mktemp -d)
"$build/sim/lumitrax-sim" >"$work/sim.out" &
sim_pid=$!
trap 'kill -TERM "$sim_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
done
sim_ticks_before=$(awk '{print $14 + $15}' "/proc/$sim_pid/stat")
"$build/bench/soak_panel" "$(head -n 1 "$work/sim.out")" "$idle" --idle
sim_ticks=$(($(awk '{print $14 + $15}' "/proc/$sim_pid/stat") - sim_ticks_before))
echo "lumitrax-sim over the same time: $sim_ticks clock ticks of $(getconf CLK_TCK)/s"
