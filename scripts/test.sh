#!/usr/bin/env bash
# Installs what is missing, checks the format, then builds the project with Qt 6 under
# AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole suite, builds the concurrency
# tests under ThreadSanitizer and runs them, builds and runs the whole suite with Qt 5, and finally
# builds the Debian package and checks it. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

scripts/check-format.sh

scripts/test-budget.sh

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=address >/dev/null
cmake --build build/asan -j"$jobs"
(cd build/asan && ctest --output-on-failure -j"$jobs")

cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=thread >/dev/null
cmake --build build/tsan -j"$jobs" --target concurrency_tests
(cd build/tsan && ctest --output-on-failure -L concurrency)

cmake -S . -B build/qt5 -DCMAKE_BUILD_TYPE=Debug -DVQ_QT_MAJOR=5 -DVQ_BENCHMARKS=OFF >/dev/null
cmake --build build/qt5 -j"$jobs"
(cd build/qt5 && ctest --output-on-failure -j"$jobs")

tests/package-test.sh "$(scripts/package.sh | tail -n 1)"
