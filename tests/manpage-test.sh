#!/usr/bin/env bash
# Every long option that `vqgateway --help` lists has its entry in the manual page's OPTIONS
# section (the tag line after a .TP), and every entry there is an option --help lists.
set -euo pipefail
program=$1 page=$2
fail() { echo "manpage test: $*" >&2; exit 1; }
[ -r "$page" ] || fail "no manual page at $page"
help=$("$program" --help) || fail "$program --help failed"
listed=$(grep -oE '^ +(-[a-z], )?--[a-z0-9-]+' <<<"$help" | grep -oE -- '--[a-z0-9-]+' | sort -u || true)
[ -n "$listed" ] || fail "$program --help lists no option"
documented=$(awk '/^\.SH/ { options = $2 == "OPTIONS" } options && tag; { tag = /^\.TP/ }' "$page" |
             sed 's/\\-/-/g' | grep -oE -- '--[a-z0-9-]+' | sort -u || true)
status=0
for option in $(comm -23 <(echo "$listed") <(echo "$documented")); do
    echo "manpage test: $option is in --help but not in the OPTIONS of $page" >&2; status=1
done
for option in $(comm -13 <(echo "$listed") <(echo "$documented")); do
    echo "manpage test: $option is in the OPTIONS of $page but not in --help" >&2; status=1
done
[ $status = 0 ] && echo "manpage test: the $(wc -l <<<"$listed") options of --help and the page agree"
exit $status
