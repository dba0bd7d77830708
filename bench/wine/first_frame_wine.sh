#!/bin/bash
# Time from exec to first frame: the native program against ostrevane.exe
# under Wine, on the same Xvfb screen, the two taking turns, median of
# several starts. Timing is bench/first_frame's DAMAGE probe: from just
# before the spawn until drawing has covered the program's window. Wine's
# server and desktop are up before anything is timed, as on a desktop where
# Wine is in use, so each timed run is one program start.
#
# Usage: bench/wine/first_frame_wine.sh [--runs N] [--screen WxH] [--build DIR]
#            [--windows-build DIR] [--min-ratio R]
#   --build DIR          native build with ostrevane and bench/first_frame's probe
#                        (default build/release)
#   --windows-build DIR  the mingw preset's build (default build/mingw)
#   --min-ratio R        fail unless Wine's median is at least R times the native one
# A Wine prefix made already (WINEPREFIX, with its registry) is used as it
# is; otherwise the run makes one of its own.
set -u
cd "$(dirname "$0")/../.." || exit 1
arguments=("$@")
runs=9 screen=1024x768 build=build/release windows_build=build/mingw min_ratio=""
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=${2:-}; shift 2 ;;
        --screen) screen=${2:-}; shift 2 ;;
        --build) build=${2:-}; shift 2 ;;
        --windows-build) windows_build=${2:-}; shift 2 ;;
        --min-ratio) min_ratio=${2:-}; shift 2 ;;
        *) echo "usage: $0 [--runs N] [--screen WxH] [--build DIR] [--windows-build DIR] [--min-ratio R]" >&2
           exit 2 ;;
    esac
done
[[ $runs =~ ^[1-9][0-9]?$ ]] || { echo "--runs must be 1 to 99" >&2; exit 2; }
[[ $screen =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || { echo "--screen must be WxH" >&2; exit 2; }
[ -z "$min_ratio" ] || [[ $min_ratio =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "--min-ratio must be a number" >&2; exit 2; }

native=$(realpath -m "$build/ostrevane")
probe=$(realpath -m "$build/bench/first_frame/first_frame_probe")
windows=$(realpath -m "$windows_build/ostrevane.exe")
for file in "$native" "$probe"; do
    [ -x "$file" ] || { echo "no $file: build it (cmake --build --preset default)" >&2; exit 1; }
done
[ -f "$windows" ] || { echo "no $windows: build it (cmake --preset mingw && cmake --build --preset mingw)" >&2; exit 1; }
for tool in Xvfb wine wineserver wineboot; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/deps.sh test)" >&2; exit 1; }
done
# The probe spawns without a PATH search.
wine=$(command -v wine)

# On an Xvfb of its own (tests/support): the script runs again there.
if [ -z "${FIRST_FRAME_WINE_SCREEN:-}" ]; then
    FIRST_FRAME_WINE_SCREEN=$screen exec python3 tests/support/ostrevane_support.py xvfb "$screen" \
        -- "$0" "${arguments[@]}"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-bench.XXXXXX")
own_prefix=""
if [ ! -f "${WINEPREFIX:-/nonexistent}/system.reg" ]; then
    own_prefix=yes
    export WINEPREFIX="$work/wine-prefix"
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
    timeout 60 wineserver -k >/dev/null 2>&1
    timeout 60 wineserver -w >/dev/null 2>&1
    # The server's socket folder of a prefix of our own, named after its
    # device and inode.
    if [ -n "$own_prefix" ] && [ -d "$WINEPREFIX" ]; then
        local server dir
        server="server-$(stat -c %D "$WINEPREFIX")-$(printf '%x' "$(stat -c %i "$WINEPREFIX")")"
        for dir in /tmp/wine-*/"$server" "${TMPDIR:-/tmp}"/wine-*/"$server"; do
            [ -d "$dir" ] && rm -rf "$dir" && rmdir "$(dirname "$dir")" 2>/dev/null
        done
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Wine's server and desktop (and its prefix, unless given one), made and
# started before any timing; the server stays up between runs, so no timed
# run starts it (and with it, no Wine server ever holds the probe's output
# open).
echo "preparing Wine (${own_prefix:+its own prefix, }on $DISPLAY)..."
timeout 300 wineboot ${own_prefix:+-i} >"$work/wineboot.log" 2>&1 ||
    { echo "wineboot failed" >&2; tail "$work/wineboot.log" >&2; exit 1; }
timeout 60 wineserver -p >/dev/null 2>&1

# probe RUNS OUTPUT: both programs, taking turns; output to a file, never a
# pipe.
probe() {
    (cd "$work" && timeout -k 5 $((120 + 60 * $1)) "$probe" "$1" -- "$native" -- "$wine" "$windows" \
        >"$2" 2>"$work/probe.err" </dev/null) || {
        echo "the probe failed:" >&2
        cat "$work/probe.err" >&2
        exit 1
    }
}

# Not counted: the first start of each fills caches.
probe 1 "$work/warm.txt"
probe "$runs" "$work/runs.txt"

# Per run, native and Wine side by side.
awk '$1 == "run" { t[++n] = $3 }
     END { for (i = 1; i + 1 <= n; i += 2)
               printf "run %2d: native %8.2f ms   Wine %8.2f ms\n", (i + 1) / 2, t[i], t[i + 1] }' \
    "$work/runs.txt"

# The probe's summaries: the native program's first, then Wine's.
read -r n_median n_min n_max < <(awk '$1 == "program" && ++k == 1 { print $4, $6, $8 }' "$work/runs.txt")
read -r w_median w_min w_max < <(awk '$1 == "program" && ++k == 2 { print $4, $6, $8 }' "$work/runs.txt")
if [ -z "${n_median:-}" ] || [ -z "${w_median:-}" ]; then
    echo "unexpected probe output:" >&2
    cat "$work/runs.txt" >&2
    exit 1
fi
ratio=$(awk -v w="$w_median" -v n="$n_median" 'BEGIN { printf "%.1f", (n > 0 ? w / n : 0) }')

echo
echo "Time from exec to first frame on a $screen Xvfb screen, median of $runs runs"
printf '  %-28s %9s %9s %9s\n' "" "median" "min" "max"
printf '  %-28s %9.2f %9.2f %9.2f  ms\n' "ostrevane (native)" "$n_median" "$n_min" "$n_max"
printf '  %-28s %9.2f %9.2f %9.2f  ms\n' "ostrevane.exe under Wine" "$w_median" "$w_min" "$w_max"
echo "  native is ${ratio}x faster"
if [ -n "$min_ratio" ] && ! awk -v r="$ratio" -v m="$min_ratio" 'BEGIN { exit !(r >= m) }'; then
    echo "FAIL: expected at least ${min_ratio}x"
    exit 1
fi
