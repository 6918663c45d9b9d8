#!/usr/bin/env bash
# In an unpacked release, outside any git checkout, the suite's size is counted from the files on
# disk (build trees left out), and a format check that finds no file to check fails.
set -euo pipefail
fail() { echo "scripts test: $*" >&2; exit 1; }
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
mkdir -p "$copy"/{scripts,tests,bench,app,build}
cp "$1"/scripts/{project-files,test-budget,check-format}.sh "$copy/scripts/"
printf '1\n2\n3\n4\n' | tee "$copy/app/a.cpp" "$copy/bench/b.cpp" "$copy/build/moc_a.cpp" >/dev/null
printf '1\n' | tee "$copy/tests/tst_a.cpp" "$copy/tests/a-test.sh" >/dev/null
said=$("$copy/scripts/test-budget.sh" 2>&1) || fail "test-budget.sh failed: $said"
[ "$said" = "tests/ holds 2 lines against 4 lines of code: 50% (at most 35%)" ] || fail "test-budget.sh said: $said"
rm "$copy"/*/*.cpp
said=$("$copy/scripts/check-format.sh" 2>&1) && fail "check-format.sh found no file and passed: $said"
echo "scripts test: passed"
