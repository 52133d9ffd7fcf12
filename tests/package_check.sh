#!/usr/bin/env bash
# Makes the Debian package with scripts/package, checks what it holds and runs the packaged
# tool from the unpacked tree:  package_check.sh SOURCE_DIR PACKAGE_BUILD_DIR
# Exit 77 (skipped) when the packaging tools are not installed.
set -euo pipefail
source=$1
export LUMITRAX_PACKAGE_BUILD_DIR=$2
for tool in dpkg-deb dpkg-shlibdeps cpack help2man; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

deb=$("$source/scripts/package" | tail -n 1)
[ -f "$deb" ] || fail "scripts/package did not name a package: '$deb'"
version=$(dpkg-deb -f "$deb" Version)

listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
expected=(
    /usr/bin/lumitrax /usr/bin/lumitrax-panel /usr/bin/lumitrax-sim
    /usr/share/man/man1/lumitrax.1.gz /usr/share/man/man1/lumitrax-panel.1.gz /usr/share/man/man1/lumitrax-sim.1.gz
    /usr/share/bash-completion/completions/lumitrax
    /usr/share/applications/lumitrax-panel.desktop /usr/share/icons/hicolor/48x48/apps/lumitrax-panel.png
    /usr/include/lumitrax/controller.h /usr/include/lumitrax/version.h
    "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/liblumitrax.so.2"
    /usr/share/doc/lumitrax/copyright /usr/share/doc/lumitrax/changelog.gz
    /usr/share/doc/lumitrax/README.md.gz /usr/share/doc/lumitrax/json.md.gz /usr/share/doc/lumitrax/recipes.md.gz
    /usr/bin/lumitraxd /usr/share/man/man1/lumitraxd.1.gz
    /usr/share/doc/lumitrax/http.md.gz /usr/share/doc/lumitrax/mqtt.md.gz /usr/share/lumitrax/openapi.json
    /lib/systemd/system/lumitraxd.service /etc/lumitrax/lumitraxd.toml /etc/lumitrax/recipes/
)
for path in "${expected[@]}"; do
    grep -qx -- "$path" <<<"$listing" || fail "$path is not in the package"
done
for pattern in '/usr/lib/.*/cmake/Lumitrax/LumitraxConfig\.cmake' '/usr/lib/.*/pkgconfig/lumitrax\.pc' \
               '/usr/lib/python3/dist-packages/lumitrax\.cpython-.*\.so'; do
    grep -qx -- "$pattern" <<<"$listing" || fail "nothing matches $pattern in the package"
done
outside=$(grep -v -e '^/usr/' -e '^/$' -e '^/etc/$' -e '^/etc/lumitrax/' -e '^/lib/$' -e '^/lib/systemd/' \
    <<<"$listing" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"

dpkg-deb -x "$deb" "$root"
for binary in "$root"/usr/bin/* "$root"/usr/lib/python3/dist-packages/*.so; do
    ! readelf -d "$binary" | grep -q -e RPATH -e RUNPATH || fail "$binary has an RPATH"
    readelf -d "$binary" | grep -q BIND_NOW || fail "$binary is not built with Debian's hardening"
done
lib=$(dirname "$(find "$root/usr/lib" -name 'liblumitrax.so.2')")
said=$(env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH="$lib" "$root/usr/bin/lumitrax" --version)
[ "$said" = "lumitrax $version" ] || fail "the packaged lumitrax --version said '$said', the package is $version"
env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH="$lib" PYTHONPATH="$root/usr/lib/python3/dist-packages" \
    python3 -c "import lumitrax, sys; sys.exit(lumitrax.__version__ != '$version')" ||
    fail "the packaged Python module does not import or has another version"
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = /etc/lumitrax/lumitraxd.toml ] ||
    fail "lumitraxd's configuration is not the package's one conffile"
grep -q 'adduser' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "Depends lacks adduser (postinst adds the user)"
grep -q 'procps' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "Depends lacks procps (the unit reloads with /bin/kill)"
grep -q 'libsystemd0' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "Depends lacks libsystemd0 (lumitraxd links it)"
env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH="$lib" "$root/usr/bin/lumitraxd" --check \
    --config "$root/etc/lumitrax/lumitraxd.toml" >/dev/null || fail "lumitraxd --check refuses the shipped configuration"
echo "$deb: $(wc -l <<<"$listing") entries, lumitrax --version: $said"
