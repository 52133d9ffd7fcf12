#!/usr/bin/env bash
# Installs the build into a temporary prefix and starts what was installed:
#   install_check.sh CMAKE BUILD_DIR SOURCE_DIR [SANITIZER]
# The panel's --help, the command-line tool's --help, the simulator on its own, the
# panel's --simulate, which must start the simulator installed beside it (not the build's),
# and the Controller API's example built against the installed package (CMake and pkg-config).
set -euo pipefail
cmake=$1
build=$2
source=$3
sanitizer=${4:-}
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

for program in lumitrax lumitrax-panel lumitrax-sim; do
    version=$("$prefix/bin/$program" --version) || fail "$program --version"
    [[ "$version" =~ ^$program\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$program --version said '$version'"
done

# The simulator reports its pseudo-terminal and stops on SIGTERM.
exec 3< <(exec "$prefix/bin/lumitrax-sim")
sim_pid=$!
read -r -t 10 device <&3 || fail "lumitrax-sim reported no device"
[ -c "$device" ] || fail "lumitrax-sim reported $device, not a terminal"

# The API's example, built from the installed headers and library only, reads the identity
# and sets channel 3; the installed tool sees the brightness.
flags=""
[ "$sanitizer" = address ] && flags="-fsanitize=address,undefined"
"$cmake" -S "$source/api/examples" -B "$prefix/example" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="$flags" >/dev/null || fail "the example does not configure against the package"
"$cmake" --build "$prefix/example" >/dev/null || fail "the example does not build against the package"
"$prefix/example/set_channel" "$device" 321 | grep -q '^LX-1608 S/N ' || fail "the example read no identity"
"$prefix/bin/lumitrax" --json --port "$device" info | grep -B1 '"channel": 3,' | grep -q '"brightness": 321' ||
    fail "the example's brightness did not reach the controller"
pc=$(PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name lumitrax.pc)") pkg-config --cflags --libs lumitrax) ||
    fail "no pkg-config file"
# shellcheck disable=SC2086
c++ -std=c++17 $flags "$source/api/examples/set_channel.cpp" $pc -o "$prefix/set_channel_pc" ||
    fail "the example does not build with pkg-config's flags"
LD_LIBRARY_PATH=$(dirname "$(find "$prefix" -name 'liblumitrax.so' | head -1)") "$prefix/set_channel_pc" "$device" 5 >/dev/null ||
    fail "the pkg-config build does not run"
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
