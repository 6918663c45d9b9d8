#!/usr/bin/env bash
# Checks a built package: Debian's checker finds no error or warning in it, its files, version,
# dependencies and service unit, and that the program unpacked from it answers --version without
# a display.
set -euo pipefail
deb=$1
fail() { echo "package test: $*" >&2; exit 1; }
report=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $report"
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in bin/vqgateway share/applications/vqgateway.desktop share/icons/hicolor/256x256/apps/vqgateway.png \
         lib/systemd/user/vqgateway@.service lib/systemd/system/vqgateway@.service share/doc/vqgateway/VQ_EULA.html share/doc/vqgateway/lgpl.html \
         share/doc/vqgateway/copyright share/doc/vqgateway/changelog.gz share/man/man1/vqgateway.1.gz; do
    grep -qx -- "./usr/$f" <<<"$files" || fail "$f is missing"
done
[ "$(dpkg-deb -f "$deb" Version)" = 1.1.1 ] || fail "version is $(dpkg-deb -f "$deb" Version)"
grep -Eq 'libc6.*libqt(5core5a|6core6)|libqt(5core5a|6core6).*libc6' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "dependencies"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for unit in "$root"/usr/lib/systemd/{user,system}/vqgateway@.service; do
    grep -qx "ExecStart=/usr/bin/vqgateway --headless --instance %i" "$unit" && grep -qx "Type=notify" "$unit" || fail "$unit"
done
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$root" timeout 20 "$root/usr/bin/vqgateway" --version) || fail "--version"
[ "$out" = "VQ Gateway 01.01.01" ] || fail "--version said: $out"
echo "package test: $(basename "$deb") passed"
