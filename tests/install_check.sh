#!/usr/bin/env bash
# Installs the build into a temporary prefix and starts what was installed:
#   install_check.sh CMAKE BUILD_DIR
# The panel's --help, the command-line tool's --help, the simulator on its own, and the
# panel's --simulate, which must start the simulator installed beside it (not the build's).
set -euo pipefail
cmake=$1
build=$2
prefix=$(mktemp -d)
panel_pid=""
cleanup() {
    if [ -n "$panel_pid" ]; then
        kill "$panel_pid" 2>/dev/null || true
        wait "$panel_pid" 2>/dev/null || true
    fi
    rm -rf "$prefix"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for f in bin/lumitrax-panel bin/lumitrax-sim bin/lumitrax; do
    [ -x "$prefix/$f" ] || fail "$f not installed or not executable"
done
desktop=$prefix/share/applications/lumitrax-panel.desktop
[ -f "$desktop" ] || fail "no desktop entry"
grep -qx 'Exec=lumitrax-panel' "$desktop" || fail "desktop entry does not start lumitrax-panel"
grep -qx 'Icon=lumitrax-panel' "$desktop" || fail "desktop entry names another icon"
for size in 16 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/lumitrax-panel.png
    [ -f "$png" ] || fail "no ${size}x${size} icon"
    # PNG signature, then the IHDR width and height (big-endian) at bytes 16..23.
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
    dims=$(od -An -tu1 -j16 -N8 "$png" | tr -s ' ' | sed 's/^ //')
    expected="0 0 $((size >> 8)) $((size & 255)) 0 0 $((size >> 8)) $((size & 255))"
    [ "$dims" = "$expected" ] || fail "$png is not ${size}x${size} ($dims)"
done

# Nothing below may come from the build tree.
export PATH=/usr/bin:/bin
"$prefix/bin/lumitrax-panel" --help | grep -q -- '--simulate' || fail "lumitrax-panel --help"
"$prefix/bin/lumitrax" --help >/dev/null || fail "lumitrax --help"

# The simulator reports its pseudo-terminal and stops on SIGTERM.
exec 3< <(exec "$prefix/bin/lumitrax-sim")
sim_pid=$!
read -r -t 10 device <&3 || fail "lumitrax-sim reported no device"
[ -c "$device" ] || fail "lumitrax-sim reported $device, not a terminal"
kill -TERM "$sim_pid"
exec 3<&-

# The panel with --simulate: its child must be the installed simulator.
export QT_QPA_PLATFORM=offscreen
log=$prefix/panel.log
"$prefix/bin/lumitrax-panel" --simulate 2>"$log" &
panel_pid=$!
child=""
for _ in $(seq 100); do
    grep -q 'simulated controller on' "$log" && break
    kill -0 "$panel_pid" 2>/dev/null || fail "the panel ended: $(cat "$log")"
    sleep 0.1
done
grep -q 'simulated controller on /dev/' "$log" || fail "no simulated controller: $(cat "$log")"
for stat in /proc/[0-9]*/stat; do
    read -r pid _ _ ppid _ <"$stat" 2>/dev/null || continue
    if [ "$ppid" = "$panel_pid" ]; then
        child=$pid
    fi
done
[ -n "$child" ] || fail "the panel has no child process"
sim_exe=$(readlink "/proc/$child/exe")
[ "$sim_exe" = "$prefix/bin/lumitrax-sim" ] || fail "the panel started $sim_exe"
echo "installed into $prefix; --simulate started $sim_exe"
