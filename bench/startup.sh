#!/usr/bin/env bash
# Start-up and idle figures of lumitrax-panel on an X server (Xvfb), best of ROUNDS (default 5), the two taking turns:
#  - time from process start to its main window mapped (the X server's MapNotify event),
#    and peak resident memory (VmHWM) one second after; the same for a bare Qt window with one
#    label, as the floor;
#  - CPU share over IDLE seconds (default 30) with a port open on lumitrax-sim and the status
#    timer running.
#   bench/startup.sh [ROUNDS] [IDLE]    (BUILD=build/bench by default; built here when missing;
#                                        PANEL=path measures that lumitrax-panel instead, e.g. an
#                                        older build, against the same floor)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$@"
fi
rounds=${1:-5}
idle=${2:-30}
build=${BUILD:-build/bench}
panel=${PANEL:-$build/app/lumitrax-panel}

cmake -S . -B "$build" -G Ninja -DLUMITRAX_BENCH=ON -DLUMITRAX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
nice cmake --build "$build" -j 2 --target lumitrax-panel lumitrax-sim bare_window soak_panel >/dev/null

# The X server's own map events, stamped as they arrive by one long-lived reader: the time a
# window maps is read from its MapNotify, not found by polling, which would spawn a process
# every few milliseconds and take CPU from the program being timed.
events=$(mktemp)
stdbuf -oL xev -root -event substructure | {
    stamp=""
    while IFS= read -r line; do
        case $line in
            MapNotify*) stamp=$EPOCHREALTIME ;;
            *"override NO"*)
                if [ -n "$stamp" ]; then
                    printf '%s %s\n' "${stamp/[.,]/}" "$line"
                fi
                stamp=""
                ;;
        esac
    done
} >>"$events" &
watcher=$!
trap 'kill "$watcher" 2>/dev/null || true; rm -f "$events"' EXIT
sleep 0.5

# start_once TITLE PROGRAM [ARGS...]: prints "<ms to mapped> <peak KiB>"
start_once() {
    local title=$1
    shift
    local start pid id="" mapped=""
    : >"$events"
    start=${EPOCHREALTIME/[.,]/}
    "$@" >/dev/null 2>&1 &
    pid=$!
    local waited=0
    while [ -z "$id" ]; do
        sleep 0.1
        waited=$((waited + 1))
        id=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$title" 'index($0, t) {print $1; exit}') || true
        if [ "$waited" -gt 300 ]; then
            echo "startup: $title never appeared" >&2
            kill "$pid"
            return 1
        fi
    done
    # The window's map event (its id as the event names it: "window 0x..., override NO").
    while [ -z "$mapped" ]; do
        mapped=$(awk -v w="window $id," 'index($0, w) {print $1; exit}' "$events")
        [ -n "$mapped" ] || sleep 0.05
    done
    sleep 1
    local hwm
    hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "$(((mapped - start) / 1000)) $hwm"
}

# The two programs take turns, so that a change of load on the machine meets both alike.
best_bare_ms="" best_bare_kib="" best_panel_ms="" best_panel_kib=""
keep_best() {  # keep_best VAR_MS VAR_KIB MS KIB
    if [ -z "${!1}" ] || [ "$3" -lt "${!1}" ]; then printf -v "$1" %s "$3"; fi
    if [ -z "${!2}" ] || [ "$4" -lt "${!2}" ]; then printf -v "$2" %s "$4"; fi
}
ratios=()  # each round's panel time over the floor's just before it
echo "start-up on $DISPLAY (Qt platform xcb), best of $rounds, alternating"
for round in $(seq "$rounds"); do
    read -r ms kib < <(start_once "bare-qt-floor" "$build/bench/bare_window")
    echo "  round $round: bare Qt window ${ms} ms to mapped, peak ${kib} KiB"
    keep_best best_bare_ms best_bare_kib "$ms" "$kib"
    bare_ms=$ms
    read -r ms kib < <(start_once "Varnel Industry" "$panel")
    echo "  round $round: lumitrax-panel ${ms} ms to mapped, peak ${kib} KiB"
    keep_best best_panel_ms best_panel_kib "$ms" "$kib"
    ratios+=("$(awk -v p="$ms" -v b="$bare_ms" 'BEGIN { printf "%.3f", p / b }')")
done
echo "bare Qt window best of $rounds: ${best_bare_ms} ms to mapped, peak resident ${best_bare_kib} KiB"
echo "lumitrax-panel best of $rounds: ${best_panel_ms} ms to mapped, peak resident ${best_panel_kib} KiB"
awk -v p="$best_panel_ms" -v b="$best_bare_ms" -v pk="$best_panel_kib" -v bk="$best_bare_kib" \
    'BEGIN { printf "lumitrax-panel: %.2f times the floor'"'"'s time, %+.1f MB of its memory\n", p / b, (pk - bk) / 1024 }'
# The best of a few runs moves with the machine's noise; the median of the rounds' own ratios
# moves less.
printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END {
    m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
    printf "lumitrax-panel: median of the rounds %.2f times the floor (from %.2f to %.2f)\n", m, r[1], r[NR] }'

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
