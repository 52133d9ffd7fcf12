#!/usr/bin/env bash
# Checks lumitraxd's systemd unit offline: systemd-analyze verify accepts it without a word,
# and its exposure by systemd-analyze security is at most 2.0.
#   unit_check.sh UNIT_FILE LUMITRAXD
# The unit is checked as a copy whose ExecStart names the built lumitraxd (verify wants the
# program to exist). Exit 77 (skipped) without systemd-analyze.
set -euo pipefail
unit=$1
binary=$2
command -v systemd-analyze >/dev/null || { echo "SKIP: no systemd-analyze"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

grep -qx 'ExecStart=/usr/bin/lumitraxd --config /etc/lumitrax/lumitraxd.toml' "$unit" ||
    fail "ExecStart is not the packaged lumitraxd with the packaged configuration"
sed "s#^ExecStart=/usr/bin/lumitraxd #ExecStart=$binary #" "$unit" >"$dir/lumitraxd.service"

if ! said=$(systemd-analyze verify "$dir/lumitraxd.service" 2>&1); then
    fail "systemd-analyze verify refuses the unit: $said"
fi
[ -z "$said" ] || fail "systemd-analyze verify has something to say: $said"

report=$(systemd-analyze security --offline=true "$dir/lumitraxd.service" 2>&1) ||
    true  # exits non-zero only past its own threshold; the figure is read below
exposure=$(sed -n 's/.*Overall exposure level for lumitraxd\.service: \([0-9.]*\).*/\1/p' <<<"$report")
[ -n "$exposure" ] || fail "no exposure figure in: $report"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "exposure $exposure is above 2.0: $report"
echo "exposure $exposure"
