#!/usr/bin/env bash
# Wall-clock time of each lumitrax command against lumitrax-sim, best of N runs (default 5),
# beside its pacing floor (10 ms per command sent). Whole processes, start-up included.
#   bench/cli_times.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build/plain}
runs=${2:-5}
lx=$build/cli/lumitrax
sim=$build/sim/lumitrax-sim
[ -x "$lx" ] && [ -x "$sim" ] || { echo "build $build first (targets lumitrax lumitrax-sim)" >&2; exit 2; }
dir=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$dir"' EXIT
"$sim" --link "$dir/tty" >/dev/null &
"$sim" --link "$dir/tty2" >/dev/null &
"$sim" --link "$dir/tty3" >/dev/null &
for _ in $(seq 50); do [ -e "$dir/tty3" ] && [ -e "$dir/tty" ] && [ -e "$dir/tty2" ] && break; sleep 0.1; done
"$lx" --port "$dir/tty" read-config "$dir/rig.ini"

best() {  # best <label> <floor-ms> <args...>
    local label=$1 floor=$2
    shift 2
    local b=""
    for _ in $(seq "$runs"); do
        local t0 t1 ms
        t0=$(date +%s%N)
        "$lx" "$@" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        ms=$(( (t1 - t0) / 1000000 ))
        if [ -z "$b" ] || [ "$ms" -lt "$b" ]; then b=$ms; fi
    done
    printf '%-34s %6d ms   floor %5d ms   %s\n' "$label" "$b" "$floor" \
        "$(awk -v b="$b" -v f="$floor" 'BEGIN { if (f > 0) printf "%.2fx", b / f }')"
}

p=(--port "$dir/tty")
best "--version (process start)" 0 --version
best "info" 290 "${p[@]}" info
best "set 3 512" 10 "${p[@]}" set 3 512
best "set all 200" 160 "${p[@]}" set all 200
best "on 1 3" 30 "${p[@]}" on 1 3
best "off all" 10 "${p[@]}" off all
best "packet" 10 "${p[@]}" packet 0 64 128 192 256 320 384 448 512 576 640 704 768 832 896 960
best "trigger 2" 10 "${p[@]}" trigger 2 --delay 100 --on 50 --edge negative --enable 1
best "status" 20 "${p[@]}" status
best "status --json" 20 "${p[@]}" --json status
best "outputs 1 0" 10 "${p[@]}" outputs 1 0
best "load-bright 0" 30 "${p[@]}" load-bright 0
best "load-trigger 0" 50 "${p[@]}" load-trigger 0
best "read-config -" 290 "${p[@]}" read-config -
best "verify-config" 290 "${p[@]}" verify-config "$dir/rig.ini"
best "apply-config (1.5 s of flash waits)" 1880 "${p[@]}" apply-config "$dir/rig.ini"
best "search, 1 port" 80 --port "$dir/tty" search
best "search, 3 ports side by side" 80 --port "$dir/tty" --port "$dir/tty2" --port "$dir/tty3" search
