#!/usr/bin/env bash
# Each manual page (compressed, as installed) renders through man and through groff's strictest warnings
# without a single warning, and its NAME line names the page.
# Usage: man_pages.sh PAGE.1.gz...
set -euo pipefail
status=0
for page in "$@"; do
    name=$(basename "$page" .1.gz)
    warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1 || true)
    rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$page.err" || true)
    man_warnings=$(cat "$page.err")
    rm -f "$page.err"
    if [ -n "$warnings$man_warnings" ]; then
        echo "$name: warnings:"; printf '%s\n' "$warnings" "$man_warnings"; status=1
    fi
    if ! grep -qE "^ *$name +- " <<<"$rendered"; then
        echo "$name: no NAME line naming the page in:"; head -5 <<<"$rendered"; status=1
    fi
    lines=$(wc -l <<<"$rendered")
    echo "$name: $lines lines rendered"
    [ "$lines" -ge 40 ] || { echo "$name: too short to be the page"; status=1; }
done
exit $status
