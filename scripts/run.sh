#!/usr/bin/env bash
# Installs what is missing, builds the gateway and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target vqgateway -j"$(nproc)"
exec build/release/app/vqgateway "$@"
