#!/usr/bin/env bash
# Checks a built package: its files, its version and dependencies, and that the program unpacked
# from it starts without a display and answers --version.
set -euo pipefail
deb=$1
fail() { echo "package test: $*" >&2; exit 1; }
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/vqgateway ./usr/share/applications/vqgateway.desktop ./usr/share/icons/hicolor/256x256/apps/vqgateway.png \
         ./usr/lib/systemd/user/vqgateway@.service ./usr/share/doc/vqgateway/VQ_EULA.html ./usr/share/doc/vqgateway/lgpl.html; do
    grep -qx -- "$f" <<<"$files" || fail "$f is missing"
done
[ "$(dpkg-deb -f "$deb" Version)" = 1.1.1 ] || fail "version is $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6' <<<"$depends" && grep -Eq 'libqt(5core5a|6core6)' <<<"$depends" || fail "dependencies: $depends"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
unit="$root/usr/lib/systemd/user/vqgateway@.service"
grep -qx "ExecStart=/usr/bin/vqgateway --headless --instance %i" "$unit" && grep -qx "Restart=on-failure" "$unit" || fail "unit"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$root" XDG_CONFIG_HOME="$root" XDG_DATA_HOME="$root" \
      timeout 20 "$root/usr/bin/vqgateway" --version) || fail "--version failed"
[ "$out" = "VQ Gateway 01.01.01" ] || fail "--version said: $out"
echo "package test: $(basename "$deb") passed"
