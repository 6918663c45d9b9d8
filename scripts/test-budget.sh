#!/usr/bin/env bash
# Prints how large the suite (its sources and scripts in tests/) is against the code (the .cpp and
# .h files outside tests/ and bench/): the suite stays at most 35% of it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/project-files.sh
files=$(project_files)
lines() { awk "$1" <<<"$files" | tr '\n' '\0' | xargs -0 -r cat | wc -l; }
code_lines=$(lines '!/^(tests|bench)\// && /\.(cpp|h)$/')
test_lines=$(lines '/^tests\/.*\.(cpp|h|sh|py)$/')
echo "tests/ holds $test_lines lines against $code_lines lines of code: $((100 * test_lines / code_lines))% (at most 35%)"
