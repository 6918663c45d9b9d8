#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those that are missing,
# so that a second call costs nothing. Works on Debian 12 and 13.
set -euo pipefail
# libsystemd-dev: readiness and the watchdog through systemd's own library (without it the
# build speaks their protocol itself). qt6-serialport-dev and libqt5serialport5-dev: serial
# devices through Qt's serial port module. libc6-dbg names libc's own functions in
# ThreadSanitizer's reports, which tests/tsan.supp needs.
packages=(cmake g++ make ninja-build pkg-config qt6-base-dev qt6-base-dev-tools qtbase5-dev
          qtbase5-dev-tools prometheus-cpp-dev xvfb xauth trayer base-files fonts-dejavu-core dpkg-dev file lintian
          libc6-dbg libsystemd-dev qt6-serialport-dev libqt5serialport5-dev)
# Packages that only some releases have, installed where they are real packages: Qt 6's CMake
# files on Debian 12 need libqt6opengl6-dev, which Debian 13 folded into qt6-base-dev; tools
# pinned to a version that a release may not have (the checks that use them are skipped there).
optional=(libqt6opengl6-dev clang-format-14)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
[ ${#missing[@]} -gt 0 ] && $sudo apt-get update
for p in "${optional[@]}"; do
    installed "$p" || ! apt-cache show "$p" 2>/dev/null | grep '^Package:' >/dev/null || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
