#!/bin/bash
# ostrevane-render against a plain malloc + memset of a canvas of the same
# size, the two taking turns within one run: wall time and peak resident
# memory (GNU time), and the PNG's size; each size at each figure scale.
#
# Usage: bench/render/run.sh [--before DIR] [BUILD_DIR] [RUNS] [WxH ...]
#   --before DIR  also measures the render tool of another build tree (or
#                 the tool itself) in the same turns, and prints now/before
#   BUILD_DIR     a configured and built tree (default: build/release)
#   RUNS          runs of each program per size (default: 9)
#   WxH           sizes (default: 1024x768 3840x2160 16384x16384)
# SCALES lists the figure scales (default: "11 300"); BEFORE=path is the
# same as --before.
#
# Goals at 16384x16384: time within 5 times the baseline's and no longer
# than before; peak memory at most 48 MiB at scale 11 and 128 MiB at scale
# 300; a file of at most 2 MB at scale 11.
set -euo pipefail
before=${BEFORE:-}
if [ "${1:-}" = --before ]; then
    before=${2:?--before needs a build tree or a program}
    shift 2
fi
case $before in
    "" | /*) ;;
    *) before=$PWD/$before ;;
esac
[ -z "$before" ] || [ ! -d "$before" ] || before=$before/tools/ostrevane-render
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${2:-9}
shift $(($# < 2 ? $# : 2))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024x768 3840x2160 16384x16384)
read -r -a scales <<<"${SCALES:-11 300}"

render=$build/tools/ostrevane-render
baseline=$build/bench/render/alloc_baseline
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
    for scale in "${scales[@]}"; do
        : >"$workdir/render" >"$workdir/base" >"$workdir/before"
        for ((i = 0; i < runs; i++)); do
            measure "$workdir/render" "$render" --size "$size" --scale "$scale" --output "$workdir/now.png"
            measure "$workdir/base" "$baseline" "$width" "$height"
            if [ -n "$before" ]; then
                measure "$workdir/before" "$before" --size "$size" --scale "$scale" --output "$workdir/before.png"
            fi
        done
        t=$(cut -d' ' -f1 "$workdir/render" | median)
        m=$(cut -d' ' -f2 "$workdir/render" | median)
        bt=$(cut -d' ' -f1 "$workdir/base" | median)
        bytes=$(stat -c %s "$workdir/now.png")
        line=$(awk -v s="$size" -v k="$scale" -v t="$t" -v m="$m" -v bt="$bt" -v f="$bytes" 'BEGIN {
            printf "%s scale %s: render %.3f s, malloc+memset %.3f s: %.2fx; peak memory %.1f MiB; file %d bytes\n",
                s, k, t, bt, (bt > 0 ? t / bt : 0), m / 1024, f }')
        if [ -n "$before" ]; then
            pt=$(cut -d' ' -f1 "$workdir/before" | median)
            pm=$(cut -d' ' -f2 "$workdir/before" | median)
            same=different
            cmp -s "$workdir/now.png" "$workdir/before.png" && same=same
            line+=$'\n'$(awk -v s="$size" -v k="$scale" -v t="$t" -v pt="$pt" -v m="$m" -v pm="$pm" -v same="$same" 'BEGIN {
                printf "%s scale %s: before %.3f s, %.1f MiB; now/before time %.2fx, memory %.2fx; PNG %s\n",
                    s, k, pt, pm / 1024, (pt > 0 ? t / pt : 0), (pm > 0 ? m / pm : 0), same }')
        fi
        echo "$line"
        summary+="$line"$'\n'
    done
done
echo
printf '%s' "$summary"
