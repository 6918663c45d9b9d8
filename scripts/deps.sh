#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those that are missing,
# so that a second call costs nothing. Works on Debian 12 and 13.
set -euo pipefail
packages=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qtbase5-dev
          qtbase5-dev-tools prometheus-cpp-dev xvfb xauth trayer base-files fonts-dejavu-core socat dpkg-dev file lintian)
# Tools pinned to a version that a release may not have; their checks are skipped there.
optional=(clang-format-14)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
[ ${#missing[@]} -gt 0 ] && $sudo apt-get update
for p in "${optional[@]}"; do
    installed "$p" || ! apt-cache show "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
