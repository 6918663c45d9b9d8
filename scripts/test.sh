#!/usr/bin/env bash
# Installs what is missing, checks the format, then builds the project with Qt 6 under
# AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole suite, builds the concurrency
# tests under ThreadSanitizer and runs them, builds and runs the whole suite with Qt 5, and finally
# builds the Debian package and checks it and its service units. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
# Each stage says when it starts, so that a slow one shows.
stage() { echo "== $1, at $((SECONDS / 60)) min $((SECONDS % 60)) s"; }
# Line tables are all that the sanitizers' reports need of the debug information, and they cost
# far less to compile and link than the whole of it. Ninja keeps both cores busy to the last file.
# The sources of each target compile together (a unity build), so that Qt's headers are read once
# a batch, not once a file: a third less to compile. Two sources of one target that each define
# the same name for themselves break it; the package still builds file by file.
debug=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_UNITY_BUILD=ON)
# A build directory made earlier by another generator is made anew.
for dir in build/asan build/tsan build/qt5; do
    grep -qs '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt" || rm -rf "$dir"
done
# Most tests wait on timers and sockets, not on a core: one more than the cores keeps both busy.
testJobs=$((jobs + 1))

scripts/check-format.sh

scripts/test-budget.sh

cmake -S . -B build/asan "${debug[@]}" -DVQ_SANITIZE=address -DVQ_BENCHMARKS=OFF >/dev/null
cmake -S . -B build/tsan "${debug[@]}" -DVQ_SANITIZE=thread >/dev/null
cmake -S . -B build/qt5 "${debug[@]}" -DVQ_QT_MAJOR=5 >/dev/null

# The later stages build while the first stage builds and the earlier stages' tests run, at the
# lowest priority: they take only what the first build leaves idle while it waits on a library
# or a link, and what the tests, which mostly wait on timers and sockets, leave of the cores.
# Each build leaves its output in build/<stage>.log and its exit status in build/<stage>.status.
rm -f build/{tsan,qt5,package}.{log,status}
buildLater() {
    build() {
        local name=$1
        shift
        if nice -n 19 "$@" >"build/$name.log" 2>&1; then echo 0; else echo 1; fi >"build/$name.tmp"
        mv "build/$name.tmp" "build/$name.status"
    }
    build tsan cmake --build build/tsan -j"$jobs" --target concurrency_tests
    build qt5 cmake --build build/qt5 -j"$jobs"
    # File by file, as scripts/run.sh builds the program: a source that compiles only beside
    # the others of its batch, for an include it lacks, fails here.
    build package scripts/package.sh
}
# In a session of its own, so that a failing stage stops the whole build with it. Where the
# system shares the cores between sessions first (autogroups), the session's own priority is
# lowered too: niceness alone counts only within a session there.
setsid bash -c "echo 19 >/proc/self/autogroup 2>/dev/null; jobs=$jobs; $(declare -f buildLater); buildLater" \
    </dev/null >/dev/null 2>&1 &
builder=$!
cleanup() { kill -- -"$builder" 2>/dev/null || true; }
trap cleanup EXIT
# Waits for the build of a later stage and shows its output; fails with it.
built() {
    while [ ! -e "build/$1.status" ]; do
        kill -0 "$builder" 2>/dev/null || { echo "the build of $1 ended without a result" >&2; exit 1; }
        sleep 1
    done
    cat "build/$1.log"
    [ "$(cat "build/$1.status")" = 0 ] || { echo "the build of $1 failed" >&2; exit 1; }
}

stage "Qt 6 with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --build build/asan -j"$jobs"

(cd build/asan && ctest --output-on-failure -j"$testJobs")

stage "Qt 6 with ThreadSanitizer"
built tsan
(cd build/tsan && ctest --output-on-failure -j"$testJobs" -L concurrency)

stage "Qt 5"
built qt5
(cd build/qt5 && ctest --output-on-failure -j"$testJobs")

stage "Debian package"
built package
deb=$(tail -n 1 build/package.log)
tests/package-test.sh "$deb"

# Both service units pass systemd's own check as the package installs them, with the program's
# path pointed at the unpacked program, which the check wants to find.
if command -v systemd-analyze >/dev/null; then
    units=$(mktemp -d)
    trap 'cleanup; rm -rf "$units"' EXIT
    dpkg-deb -x "$deb" "$units/root"
    mkdir -m 700 "$units/run"
    for manager in user system; do
        mkdir "$units/$manager"
        sed "s|=/usr/bin/vqgateway |=$units/root/usr/bin/vqgateway |" \
            "$units/root/usr/lib/systemd/$manager/vqgateway@.service" >"$units/$manager/vqgateway@check.service"
        # A key it does not know is only a warning to it: any word from it fails here.
        said=$(XDG_RUNTIME_DIR="$units/run" HOME="$units" systemd-analyze verify --man=no \
            --"$manager" "$units/$manager/vqgateway@check.service" 2>&1) && [ -z "$said" ] \
            || { echo "service units: $manager unit: $said" >&2; exit 1; }
    done
    echo "service units: both pass systemd-analyze verify"
else
    echo "service units: not verified (systemd-analyze is not installed)"
fi
stage "done"
