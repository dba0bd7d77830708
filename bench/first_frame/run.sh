#!/bin/bash
# First whole frame of ostrevane on Xvfb beside a bare Xlib program doing
# the same work at the same size: a window of three quarters of the screen
# each way, and one image of that size put into it, once with XPutImage and
# once with MIT-SHM. The three take turns within one run; each is timed from
# exec until every pixel of its window has been drawn. Also ostrevane's peak
# resident memory beside its canvas and client pixels.
#
# Usage: bench/first_frame/run.sh [BUILD_DIR] [RUNS] [WxH ...]
#   BUILD_DIR  a configured and built tree (default: build/release)
#   RUNS       starts of each program per screen size (default: 15)
#   WxH        screen sizes (default: 1920x1080 3840x2160)
# OSTREVANE=path measures another build of the program instead; BEFORE=path
# measures one more (an older build, say) in the same turns.
#
# Prints, per screen size, the medians and the ratio of ostrevane's to the
# faster baseline's. Goals: the ratio within 1.1; peak memory within
# canvas + client pixels + 8 MiB.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${2:-15}
shift $(($# < 2 ? $# : 2))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1920x1080 3840x2160)

program=${OSTREVANE:-$build/ostrevane}
baseline=$build/bench/first_frame/bare_xlib_window
probe=$build/bench/first_frame/first_frame_probe
before=${BEFORE:-}
if [ -n "$before" ]; then
    # A copy under another name, so that the probe's report tells them apart.
    # In a folder of its own (mktemp), never a guessable name in /tmp.
    before_dir=$(mktemp -d "${TMPDIR:-/tmp}/first_frame_before.XXXXXX")
    cp "$before" "$before_dir/before_ostrevane"
    before="$before_dir/before_ostrevane"
fi
for binary in "$program" "$baseline" "$probe" ${before:+"$before"}; do
    [ -x "$binary" ] || { echo "run.sh: $binary is not built" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "run.sh: Xvfb is not installed (apt-get install xvfb)" >&2; exit 1; }

workdir=$(mktemp -d)
cleanup() {
    rm -rf "$workdir"
    if [ -n "${before_dir:-}" ]; then
        rm -rf "$before_dir"
    fi
}
trap cleanup EXIT

summary=""
for size in "${sizes[@]}"; do
    width=${size%x*}
    height=${size#*x}
    echo "== screen ${width}x${height}"
    # On an Xvfb of its own (tests/support).
    python3 tests/support/ostrevane_support.py xvfb "$size" -- timeout 900 "$probe" "$runs" \
        -- "$program" -- "$baseline" -- "$baseline" --shm ${before:+-- "$before"} |
        tee "$workdir/runs.txt"

    summary+=$(awk -v w="$width" -v h="$height" '
        $1 == "program" && $2 ~ /bare_xlib_window:--shm$/ { shm = $4; next }
        $1 == "program" && $2 ~ /bare_xlib_window$/ { put = $4; next }
        $1 == "program" && $2 ~ /before_ostrevane$/ { old = $4; oldrss = $10; next }
        $1 == "program" { own = $4; rss = $10; rssmax = $12 }
        END {
            base = put < shm ? put : shm
            canvas = w * h * 4
            client = int(w * 3 / 4) * int(h * 3 / 4) * 4
            limit = canvas + client + 8 * 1048576
            printf "%dx%d first whole frame, medians: ostrevane %.2f ms; bare Xlib %.2f ms (XPutImage), %.2f ms (MIT-SHM); ratio to the faster: %.2fx (goal: 1.1x or less)\n", w, h, own, put, shm, own / base
            printf "%dx%d peak memory: ostrevane %.1f MiB (max %.1f MiB); goal: canvas %.1f + client %.1f + 8 MiB = %.1f MiB\n", w, h, rss / 1024, rssmax / 1024, canvas / 1048576, client / 1048576, limit / 1048576
            if (old > 0) printf "%dx%d before: %.2f ms, ratio to the faster baseline %.2fx, peak memory %.1f MiB\n", w, h, old, old / base, oldrss / 1024
        }' "$workdir/runs.txt")$'\n'
done
echo
printf '%s' "$summary"
