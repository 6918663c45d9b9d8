#!/usr/bin/env bash
# Installs what is missing, builds the project under AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the whole suite, then builds the core again under ThreadSanitizer and runs the tests
# labelled "concurrency" there. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=address >/dev/null
cmake --build build/asan -j"$jobs"
(cd build/asan && ctest --output-on-failure -j"$jobs")

cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=thread >/dev/null
cmake --build build/tsan -j"$jobs" --target concurrency_tests
(cd build/tsan && ctest --output-on-failure -L concurrency)
