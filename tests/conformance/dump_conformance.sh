#!/bin/bash
# A harness built against platform/ and for Windows (run under Wine) prints
# a dump of what one part of the platform does: the pixels each of a set of
# lines lit (line_harness), the byte each typed character became
# (char_harness). The two dumps must be identical.
# Usage: dump_conformance.sh --what WHAT NATIVE_HARNESS WINDOWS_HARNESS_EXE
set -u
usage="usage: dump_conformance.sh --what WHAT NATIVE_HARNESS WINDOWS_HARNESS_EXE"
[ $# -eq 4 ] && [ "$1" = --what ] || { echo "$usage" >&2; exit 2; }
what=$2 native=$3 windows=$4
# shellcheck source-path=SCRIPTDIR source=conformance_lib.sh
source "$(dirname "$0")/conformance_lib.sh"
native=$(absolute "$native") windows=$(windows_file "$(absolute "$windows")")
need_wine
need_windows_files "$windows"
unset DISPLAY
start_wine

if ! timeout 120 "$native" >"$work/native.txt" 2>"$work/native.err"; then
    echo "FAIL: the native harness failed:"
    tail -n 20 "$work/native.err"
    exit 1
fi
if ! run_wine 240 "$work/wine.raw" "$work/wine.err" "$windows"; then
    echo "FAIL: the Windows harness failed under Wine:"
    tail -n 20 "$work/wine.err"
    exit 1
fi
# The Windows C runtime writes text-mode stdout: CR LF line ends.
tr -d '\r' <"$work/wine.raw" >"$work/wine.txt"

lines=$(wc -l <"$work/native.txt")
if [ "$lines" -eq 0 ]; then
    echo "FAIL: the native harness printed nothing"
    exit 1
fi
if ! cmp -s "$work/native.txt" "$work/wine.txt"; then
    echo "FAIL: platform/ and Wine differ in $what (native < >wine), first differences:"
    diff "$work/native.txt" "$work/wine.txt" | head -n 40
    echo "native: $lines lines, Wine: $(wc -l <"$work/wine.txt") lines," \
         "$(diff "$work/native.txt" "$work/wine.txt" | grep -c '^<') differing"
    exit 1
fi
echo "identical dumps of $what: $lines lines, $(wc -c <"$work/native.txt") bytes"
