#!/usr/bin/env bash
# The long options `vqgateway --help` lists and the entries of the manual page's OPTIONS section
# (the tag line after each .TP) are the same set.
set -euo pipefail
program=$1 page=$2
fail() { echo "manpage test: $*" >&2; exit 1; }
[ -r "$page" ] || fail "no manual page at $page"
help=$("$program" --help) || fail "$program --help failed"
listed=$(grep -oE '^ +(-[a-z], )?--[a-z0-9-]+' <<<"$help" | grep -oE -- '--[a-z0-9-]+' | sort -u || true)
[ -n "$listed" ] || fail "$program --help lists no option"
documented=$(awk '/^\.SH/ { options = $2 == "OPTIONS" } options && tag; { tag = /^\.TP/ }' "$page" |
             sed 's/\\-/-/g' | grep -oE -- '--[a-z0-9-]+' | sort -u || true)
# comm indents what only the page has; what only --help has starts the line.
differences=$(comm -3 <(echo "$listed") <(echo "$documented") | sed -e '/^\t\?$/d' \
              -e "s|^\t\(.*\)|manpage test: \1 is in the OPTIONS of $page but not in --help|" -e t \
              -e "s|.*|manpage test: & is in --help but not in the OPTIONS of $page|")
[ -z "$differences" ] || { echo "$differences" >&2; exit 1; }
echo "manpage test: the $(wc -l <<<"$listed") options of --help and of the page agree"
