#!/bin/bash
# Each manual page formats without a warning from man/groff and has the
# sections a reader looks for.
set -uo pipefail
status=0
for page in "$@"; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "FAILED - $page: $warnings"
        status=1
    fi
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
        if ! grep -qx "$section" <<<"$text"; then
            echo "FAILED - $page has no $section section"
            status=1
        fi
    done
    [ $status -eq 0 ] && echo "ok - $page"
done
exit $status
