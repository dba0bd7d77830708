#!/bin/bash
# ostrevane-render against a plain malloc + memset of a canvas of the same
# size, the two taking turns within one run: wall time and peak resident
# memory (GNU time), and the PNG's size.
#
# Usage: bench/render/run.sh [BUILD_DIR] [RUNS] [WxH ...]
#   BUILD_DIR  a configured and built tree (default: build/release)
#   RUNS       runs of each program per size (default: 9)
#   WxH        sizes (default: 1024x768 3840x2160 16384x16384)
# BEFORE=path measures another build of the render tool in the same turns
# and prints how much faster this one is.
#
# Goals at 16384x16384: time within 5 times the baseline's, peak memory
# within the canvas + 64 MiB, a file of at most 2 MB.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${2:-9}
shift $(($# < 2 ? $# : 2))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024x768 3840x2160 16384x16384)

render=$build/tools/ostrevane-render
baseline=$build/bench/render/alloc_baseline
before=${BEFORE:-}
for binary in "$render" "$baseline" ${before:+"$before"}; do
    [ -x "$binary" ] || { echo "run.sh: $binary is not built" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "run.sh: GNU time is not installed (apt-get install time)" >&2; exit 1; }

workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT

# Runs a command under GNU time; appends "seconds kib" to the file $1 (the
# wall time from the clock in nanoseconds, GNU time's is in centiseconds).
measure() {
    local out=$1
    shift
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$workdir/time" "$@" >/dev/null
    end=$(date +%s%N)
    echo "$(((end - start) / 1000)) $(tail -n 1 "$workdir/time")" | awk '{ printf "%.6f %d\n", $1 / 1e6, $2 }' >>"$out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

summary=""
for size in "${sizes[@]}"; do
    width=${size%x*}
    height=${size#*x}
    : >"$workdir/render" >"$workdir/base" >"$workdir/before"
    for ((i = 0; i < runs; i++)); do
        measure "$workdir/render" "$render" --size "$size" --output "$workdir/now.png"
        measure "$workdir/base" "$baseline" "$width" "$height"
        if [ -n "$before" ]; then
            measure "$workdir/before" "$before" --size "$size" --output "$workdir/before.png"
        fi
    done
    t=$(cut -d' ' -f1 "$workdir/render" | median)
    m=$(cut -d' ' -f2 "$workdir/render" | median)
    bt=$(cut -d' ' -f1 "$workdir/base" | median)
    bytes=$(stat -c %s "$workdir/now.png")
    line=$(awk -v s="$size" -v t="$t" -v m="$m" -v bt="$bt" -v w="$width" -v h="$height" -v f="$bytes" 'BEGIN {
        canvas = w * h * 4 / 1048576
        printf "%s: render %.3f s, malloc+memset %.3f s: %.2fx (goal 5x or less); peak memory %.1f MiB (goal: canvas %.1f + 64 MiB); file %d bytes (goal 2 MB or less)\n",
            s, t, bt, (bt > 0 ? t / bt : 0), m / 1024, canvas, f }')
    if [ -n "$before" ]; then
        pt=$(cut -d' ' -f1 "$workdir/before" | median)
        pm=$(cut -d' ' -f2 "$workdir/before" | median)
        pbytes=$(stat -c %s "$workdir/before.png")
        line+=$'\n'$(awk -v s="$size" -v t="$t" -v pt="$pt" -v m="$m" -v pm="$pm" -v f="$pbytes" 'BEGIN {
            printf "%s: before %.3f s, %.1f MiB, file %d bytes; now/before time %.2fx\n", s, pt, pm / 1024, f, (pt > 0 ? t / pt : 0) }')
    fi
    echo "$line"
    summary+="$line"$'\n'
done
echo
printf '%s' "$summary"
