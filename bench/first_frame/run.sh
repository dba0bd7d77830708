#!/bin/bash
# First frame of ostrevane on a 1920x1080 Xvfb, beside a bare Xlib program
# that puts one screen-sized image, measured in the same run with the two
# taking turns; and ostrevane's peak resident memory beside the size of its
# screen bitmap.
#
# Usage: bench/first_frame/run.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a configured and built tree (default: build/release)
#   RUNS       starts of each program (default: 20)
#
# Goals: ostrevane's median within twice the baseline's; its peak memory
# within twice the bitmap plus 10 MiB.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${2:-20}
width=1920
height=1080

program=$build/ostrevane
baseline=$build/bench/first_frame/bare_xlib_window
probe=$build/bench/first_frame/first_frame_probe
for binary in "$program" "$baseline" "$probe"; do
    [ -x "$binary" ] || { echo "run.sh: $binary is not built" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "run.sh: Xvfb is not installed (apt-get install xvfb)" >&2; exit 1; }

workdir=$(mktemp -d)
xvfb_pid=""
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$workdir"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the pipe.
mkfifo "$workdir/display"
Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp -noreset \
    3>"$workdir/display" 2>"$workdir/xvfb.log" &
xvfb_pid=$!
if ! read -r -t 15 number <"$workdir/display"; then
    echo "run.sh: Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=":$number"

timeout 600 "$probe" "$runs" -- "$program" -- "$baseline" | tee "$workdir/runs.txt"

awk -v w="$width" -v h="$height" '
    $1 == "program" && $2 ~ /ostrevane$/ { own = $4; rss = $10; rssmax = $12 }
    $1 == "program" && $2 ~ /bare_xlib_window$/ { base = $4; baserss = $10 }
    END {
        bitmap = w * h * 4
        limit = 2 * bitmap + 10 * 1024 * 1024
        printf "\nfirst frame, median of runs: ostrevane %.2f ms, bare Xlib %.2f ms: %.2fx (goal: 2x or less)\n", own, base, own / base
        printf "peak resident memory: ostrevane %.1f MiB (max %.1f MiB), bare Xlib %.1f MiB\n", rss / 1024, rssmax / 1024, baserss / 1024
        printf "screen bitmap %dx%dx4 = %.1f MiB; goal: 2 x bitmap + 10 MiB = %.1f MiB\n", w, h, bitmap / 1048576, limit / 1048576
    }' "$workdir/runs.txt"
