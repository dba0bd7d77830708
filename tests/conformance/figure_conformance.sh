#!/bin/bash
# The figure as ostrevane-render draws it through platform/ and, under Wine,
# through Windows' GDI: for every case the decoded pixels must be identical.
# With --runner, the other render tool is another build of platform/'s (say,
# for arm64, or with the widest instruction set) run under RUNNER (say,
# qemu-aarch64; an empty RUNNER runs it directly): its pixels and its line
# list (--lines) must be this build's. An absent other build is skipped.
# Usage: figure_conformance.sh [--runner RUNNER] NATIVE_RENDER WINDOWS_RENDER_EXE IMAGE_COMPARE CASE...
# where CASE is WxH or WxH:SCALE.
set -u
runner=() other="the Windows render tool under Wine" tag=wine other_build=""
if [ "${1:-}" = --runner ] && [ $# -ge 2 ]; then
    read -r -a runner <<<"$2"
    other_build=yes other="the other render tool${runner[0]:+ under ${runner[0]}}" tag=other
    shift 2
fi
[ $# -ge 4 ] || { echo "usage: figure_conformance.sh [--runner RUNNER] NATIVE OTHER IMAGE_COMPARE CASE..." >&2; exit 2; }
native=$1 windows=$2 compare=$3
shift 3
# shellcheck source-path=SCRIPTDIR source=conformance_lib.sh
source "$(dirname "$0")/conformance_lib.sh"
native=$(absolute "$native") windows=$(absolute "$windows") compare=$(absolute "$compare")
if [ -n "$other_build" ]; then
    [ -f "$windows" ] || { echo "SKIP: no $windows (not built)"; exit "$SKIPPED"; }
    [ ${#runner[@]} -eq 0 ] || need_tools "${runner[0]}"
else
    need_wine
    windows=$(windows_file "$windows")
    need_windows_files "$windows"
    # The render tool needs no display; without one, Wine's screen is its
    # own and the same on every machine.
    unset DISPLAY
    start_wine
fi

# Runs the other render tool as run_wine does: SECONDS OUT ERR PROGRAM ARGS...
run_other() {
    if [ -z "$other_build" ]; then
        run_wine "$@"
        return
    fi
    local seconds=$1 out=$2 err=$3
    shift 3
    # Emulation is slower than Wine: three times the time.
    timeout -k 5 $((seconds * 3)) "${runner[@]}" "$@" >"$out" 2>"$err" </dev/null
}

# The line lists (--lines) of both render tools, for the options given.
lines_agree() {
    if ! timeout 20 "$native" "$@" --lines >"$work/native.lines" 2>"$work/native.err" ||
        ! run_other 20 "$work/other.lines" "$work/other.err" "$windows" "$@" --lines; then
        echo "FAIL: $case: --lines failed:"
        cat "$work/native.err" "$work/other.err"
        return 1
    fi
    if ! cmp -s "$work/native.lines" "$work/other.lines"; then
        echo "FAIL: $case: the line lists differ (native < > other), first differences:"
        diff "$work/native.lines" "$work/other.lines" | head -n 20
        return 1
    fi
}

failures=0
for case in "$@"; do
    size=${case%%:*}
    options=(--size "$size")
    if [ "$size" != "$case" ]; then
        options+=(--scale "${case#*:}")
    fi
    name=${case//:/_scale_}
    # Relative output names: Wine hands the Windows program the argument as
    # typed, and relative paths mean the same on both sides.
    if ! (cd "$work" && timeout 20 "$native" "${options[@]}" --output "native_$name.png" \
              >"native_$name.log" 2>&1); then
        echo "FAIL: $case: the native render tool failed:"
        cat "$work/native_$name.log"
        failures=$((failures + 1))
        continue
    fi
    (cd "$work" && run_other 20 "${tag}_$name.log" "${tag}_$name.err" "$windows" "${options[@]}" \
        --output "${tag}_$name.png")
    status=$?
    if [ $status -ne 0 ]; then
        # Wine itself has been seen to fail a start now and then on a loaded
        # machine; one more start tells that apart from a fault of the tool.
        echo "note: $case: $other exited $status; starting it once more"
        cat "$work/${tag}_$name.log" "$work/${tag}_$name.err"
        (cd "$work" && run_other 40 "${tag}_$name.log" "${tag}_$name.err" "$windows" "${options[@]}" \
            --output "${tag}_$name.png")
        status=$?
    fi
    if [ $status -ne 0 ]; then
        echo "FAIL: $case: $other exited $status:"
        cat "$work/${tag}_$name.log" "$work/${tag}_$name.err"
        failures=$((failures + 1))
        continue
    fi
    # Where the canvas is large enough to hold part of the figure, two empty
    # canvases would be a fault both sides share, not agreement.
    width=${size%x*} height=${size#*x}
    lit=()
    if [ "$width" -ge 100 ] && [ "$height" -ge 100 ]; then
        lit=(--require-lit)
    fi
    # Two builds of platform/ also draw the same lines, in the same order.
    if [ -n "$other_build" ] && ! lines_agree "${options[@]}"; then
        failures=$((failures + 1))
        continue
    fi
    if "$compare" same "$work/native_$name.png" "$work/${tag}_$name.png" "${lit[@]}" \
           >"$work/compare.txt"; then
        echo "ok   $case: $(cat "$work/compare.txt")"
    else
        echo "FAIL $case (native against $other):"
        cat "$work/compare.txt"
        failures=$((failures + 1))
    fi
done

# Where the Windows tool's output goes: devices are written in place, '-' is
# a binary standard output, a file is replaced whole and a read-only one
# refused and kept. These are the Windows tool's alone: none runs for a
# build of platform/ run under a runner. Each case runs in a folder of its
# own. Columns: name | setup | the tool's arguments | exit status | check
# (the tool's standard output is in $out, its errors in $err; native.png is
# the native figure).
cases=0
if [ -z "$other_build" ]; then
    while IFS='|' read -r name setup args expected check; do
        name=$(echo $name) cases=$((cases + 1))
        folder=$work/output_$cases out=$work/output_$cases.out err=$work/output_$cases.err
        mkdir "$folder"
        (
            cd "$folder" || exit 1
            "$native" --output "$work/output_$cases.png" || exit 1
            eval "$setup"
            # shellcheck disable=SC2086
            run_wine 40 "$out" "$err" "$windows" $args
            status=$?
            [ "$status" -eq "$expected" ] || { echo "FAIL output $name: exited $status: $(cat "$err")"; exit 1; }
            ln -s "../output_$cases.png" native.png
            eval "$check" || { echo "FAIL output $name: $check"; exit 1; }
            echo "ok   output $name"
        ) || failures=$((failures + 1))
    done <<'CASES'
NUL | : | --output NUL | 0 | [ "$(ls -A)" = native.png ] && [ ! -s "$err" ]
- to a file | : | --output - | 0 | "$compare" same "$out" native.png --require-lit >/dev/null
an old file replaced | echo old >old.png | --output old.png | 0 | [ "$(ls -A | tr "\n" " ")" = "native.png old.png " ] && "$compare" same old.png native.png >/dev/null
read-only file kept | echo old >ro.png; chmod a-w ro.png | --output ro.png | 1 | [ "$(cat ro.png)" = old ] && [ "$(ls -A | tr "\n" " ")" = "native.png ro.png " ] && grep -q "^ostrevane-render: cannot write 'ro.png': Access" "$err"
CASES
fi

echo "$(($# + cases - failures)) passed, $failures failed"
[ $failures -eq 0 ]
