#!/bin/bash
# Lines: the line harness, built against platform/ and for Windows (run under
# Wine), draws the same lines each alone on a cleared canvas and prints the
# pixels they lit. The two dumps must be identical.
# Usage: line_conformance.sh NATIVE_HARNESS WINDOWS_HARNESS_EXE
set -u
[ $# -eq 2 ] || { echo "usage: line_conformance.sh NATIVE_HARNESS WINDOWS_HARNESS_EXE" >&2; exit 2; }
native=$1 windows=$2
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
    echo "FAIL: platform/ and Wine lit different pixels (native < >wine), first differences:"
    diff "$work/native.txt" "$work/wine.txt" | head -n 40
    echo "native: $lines lines, Wine: $(wc -l <"$work/wine.txt") lines"
    exit 1
fi
echo "identical dumps: $lines lines, $(wc -c <"$work/native.txt") bytes"
