#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those that are missing,
# so that a second call costs nothing.
set -euo pipefail
packages=(cmake g++ make qtbase5-dev qtbase5-dev-tools xvfb xauth trayer base-files fonts-dejavu-core socat dpkg-dev file qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
