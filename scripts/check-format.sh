#!/usr/bin/env bash
# Fails, naming them, when the project's .cpp or .h files (those git tracks, or those on disk
# outside a checkout) are out of the project's .clang-format, and when there is none to check.
# The format is what clang-format 14 makes of it (other versions format some lines differently);
# where that version is not installed the check is skipped with one line saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/project-files.sh
sources=$(project_files | awk '/\.(cpp|h)$/')
if [ -z "$sources" ]; then
    echo "format check: no .cpp or .h file found to check" >&2
    exit 1
fi
formatter=
for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" >/dev/null && "$candidate" --version | grep -q 'version 14\.'; then
        formatter=$candidate
        break
    fi
done
if [ -z "$formatter" ]; then
    echo "format check skipped: clang-format 14, the version the format is checked with, is not installed"
    exit 0
fi
bad=()
while IFS= read -r file; do
    "$formatter" --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done <<<"$sources"
if [ ${#bad[@]} -gt 0 ]; then
    echo "out of format (clang-format -i them):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "format check: every .cpp and .h file is formatted"
