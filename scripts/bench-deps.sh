#!/usr/bin/env bash
# Installs what the build needs and what the load benchmark compares the gateway with: socat and
# ser2net. Debian's ser2net package also installs its own service, which serves the serial ports
# its /etc/ser2net.yaml names on localhost; the benchmark runs a ser2net of its own beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
missing=()
for p in socat ser2net; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
