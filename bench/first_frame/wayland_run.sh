#!/bin/bash
# First whole frame of ostrevane on a headless weston, and on a headless
# sway (whose window frames are the compositor's), beside a bare wl_shm
# client doing the same work at the same size: an xdg_toplevel of three
# quarters of the output each way, and one XRGB8888 buffer of that size
# filled, attached, damaged and committed (bare_wayland_window). The two take
# turns within one run, and ostrevane's peak resident memory is set beside
# its canvas and client pixels.
#
# How a frame is timed (wayland_first_frame.py): each client runs with
# WAYLAND_DEBUG=1, so its own libwayland stamps every request and event it
# handles. The same rule reads both logs: from just before exec until the
# client dispatches the done event of the frame callback asked for with the
# first commit that puts a buffer on its toplevel and damages all of it;
# weston sends that event once it has repainted its output with the frame.
# Neither program is changed or instrumented, and no proxy sits between them
# and the compositor. What logging costs is paid by both, by ostrevane a
# little more (it sends more requests). Both start under /usr/bin/time -v,
# whose "Maximum resident set size" is the peak memory.
#
# weston has no server-side decorations, so ostrevane's window gets
# libdecor's frame (a shadow and a title bar, drawn by the program as
# subsurfaces and shown with the same commit). That is part of ostrevane's
# work on weston and is in its time; the bare baseline draws no frame, and
# the ratio is to it. Where bare_wayland_window is built with libdecor, it
# also runs with --libdecor in the same turns, putting its picture in the
# same frame, and the summary gives the ratio to that too: the part of the
# gap that is ostrevane's own. The summary says how many decoration pixels
# ostrevane drew.
#
# Usage: bench/first_frame/wayland_run.sh [BUILD_DIR] [RUNS] [WxH ...]
#   BUILD_DIR  a configured and built tree (default: build/release)
#   RUNS       starts of each program per output size (default: 15)
#   WxH        output sizes (default: 1920x1080 3840x2160)
# OSTREVANE=path measures another build of the program instead.
#
# Prints, per output size and compositor, the medians and the ratio of
# ostrevane's to the baseline's. Goals: the ratio within 1.5 on weston, 1.25
# on sway; peak memory within canvas + client pixels + 8 MiB.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${2:-15}
shift $(($# < 2 ? $# : 2))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1920x1080 3840x2160)

program=${OSTREVANE:-$build/ostrevane}
baseline=$build/bench/first_frame/bare_wayland_window
probe=bench/first_frame/wayland_first_frame.py
decorated=()
if ldd "$baseline" 2>/dev/null | grep -q libdecor; then
    decorated=(-- "$baseline" --libdecor)
fi
for binary in "$program" "$baseline"; do
    [ -x "$binary" ] || { echo "wayland_run.sh: $binary is not built" >&2; exit 1; }
done
command -v weston >/dev/null ||
    { echo "wayland_run.sh: weston is not installed (apt-get install weston)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "wayland_run.sh: python3 is not installed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "wayland_run.sh: /usr/bin/time is not installed (apt-get install time)" >&2; exit 1; }

workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT

# Each compositor is started by tests/support, as the end-to-end tests start
# theirs. sway refuses to run as root: as root it runs as the unprivileged
# user the end-to-end tests use (made there if missing); the clients (root)
# reach its socket all the same. Without sway, or not as root, only weston
# is measured.
compositors=(weston)
if command -v sway >/dev/null && command -v runuser >/dev/null && [ "$(id -u)" -eq 0 ]; then
    compositors+=(sway)
fi

summary=""
for size in "${sizes[@]}"; do
  for compositor in "${compositors[@]}"; do
    width=${size%x*}
    height=${size#*x}
    echo "== $compositor, output ${width}x${height}"
    # On sway there is no libdecor frame: sway draws the window's. Tiled
    # there, the window gets the size sway gives it, as does the baseline's
    # (which draws at a size the compositor insists on).
    framed=("${decorated[@]}")
    [ "$compositor" = weston ] || framed=()
    python3 tests/support/ostrevane_support.py "$compositor" "$size" -- \
        env OSTREVANE_BACKEND=wayland timeout 1800 python3 "$probe" "$runs" -- "$program" \
        -- "$baseline" "${framed[@]}" | tee "$workdir/runs.txt"

    summary+=$(awk -v w="$width" -v h="$height" -v on="$compositor" '
        $1 == "program" && $2 ~ /bare_wayland_window:--libdecor$/ { framed = $4; framedrss = $10; framedcommit = $14; next }
        $1 == "frame" && $2 ~ /bare_wayland_window:--libdecor$/ { framedpixels = $7; next }
        $1 == "program" && $2 ~ /bare_wayland_window$/ { base = $4; baserss = $10; basecommit = $14; next }
        $1 == "program" { own = $4; rss = $10; rssmax = $12; commit = $14; next }
        $1 == "frame" && $2 ~ /bare_wayland_window$/ { basesize = $3; next }
        $1 == "frame" { ownsize = $3; decor = $5; decorpixels = $7 }
        END {
            canvas = w * h * 4
            client = int(w * 3 / 4) * int(h * 3 / 4) * 4
            limit = canvas + client + 8 * 1048576
            printf "%dx%d first whole frame on %s, medians: ostrevane %.2f ms; bare wl_shm client %.2f ms; ratio: %.2fx (goal: %s or less)\n", w, h, on, own, base, own / base, (on == "sway" ? "1.25x" : "1.5x")
            if (framed > 0) printf "%dx%d in libdecor'\''s frame too (%.1f Mpixels of it): bare wl_shm client %.2f ms; ratio: %.2fx\n", w, h, framedpixels / 1e6, framed, own / framed
            printf "%dx%d to the frame'\''s commit, medians: ostrevane %.2f ms; baseline %.2f ms%s (the rest is the compositor'\''s)\n", w, h, commit, basecommit, (framed > 0 ? sprintf(", in libdecor'\''s frame %.2f ms", framedcommit) : "")
            printf "%dx%d window buffers: ostrevane %s, baseline %s; ostrevane'\''s other surfaces (libdecor'\''s frame, on weston): %d surfaces, %.1f Mpixels (the baseline draws none)\n", w, h, ownsize, basesize, decor, decorpixels / 1e6
            printf "%dx%d peak memory: ostrevane %.1f MiB (max %.1f MiB), baseline %.1f MiB%s; goal: canvas %.1f + client %.1f + 8 MiB = %.1f MiB (libdecor'\''s frame buffers alone: %.1f MiB)\n", w, h, rss / 1024, rssmax / 1024, baserss / 1024, (framed > 0 ? sprintf(", in libdecor'\''s frame %.1f MiB", framedrss / 1024) : ""), canvas / 1048576, client / 1048576, limit / 1048576, decorpixels * 4 / 1048576
        }' "$workdir/runs.txt")$'\n'
  done
done
echo
printf '%s' "$summary"
