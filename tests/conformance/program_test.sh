#!/bin/bash
# The program as a user meets it, on an X screen of a given size, with no
# window manager: a window titled "Ostrevane" appears showing the figure (its
# client area is the top-left part of what ostrevane-render draws for that
# screen), typed keys change nothing, and closing the window the way a window
# manager does (WM_DELETE_WINDOW) ends the program with exit status 0.
#
# The same test body runs the Windows build under Wine (mode `wine`) and the
# native build over platform/ (mode `native`).
# Usage: program_test.sh wine|native WxH PROGRAM RENDER_TOOL X11_PROBE IMAGE_COMPARE
# (X11_PROBE is tests/support's x11_probe.)
set -u
[ $# -eq 6 ] || { echo "usage: program_test.sh wine|native WxH PROGRAM RENDER X11_PROBE IMAGE_COMPARE" >&2; exit 2; }
mode=$1 screen=$2 program=$3 render=$4 xtool=$5 compare=$6
# shellcheck source-path=SCRIPTDIR source=conformance_lib.sh
source "$(dirname "$0")/conformance_lib.sh"
program=$(absolute "$program") render=$(absolute "$render")
xtool=$(absolute "$xtool") compare=$(absolute "$compare")

case "$mode" in
    wine)
        need_wine
        program=$(windows_file "$program") render=$(windows_file "$render")
        need_windows_files "$program" "$render"
        runner=(wine)
        ;;
    native)
        runner=()
        ;;
    *)
        echo "unknown mode '$mode'" >&2
        exit 2
        ;;
esac
need_tools xdotool

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
program_pid=""

# Starts the program in the background, its output in a file.
launch() {
    (cd "$work" && exec timeout -k 5 120 "${runner[@]}" "$program" >>"$work/program.log" 2>&1 </dev/null) &
    program_pid=$!
}

# Waits up to SECONDS for the program to end; sets $exit_status, or returns 1
# (and kills it) if it does not end.
wait_for_exit() {
    local seconds=$1 tenths=0
    while kill -0 "$program_pid" 2>/dev/null; do
        if [ $tenths -ge $((seconds * 10)) ]; then
            kill -KILL "$program_pid" 2>/dev/null
            wait "$program_pid" 2>/dev/null
            program_pid=""
            return 1
        fi
        sleep 0.1
        tenths=$((tenths + 1))
    done
    wait "$program_pid"
    exit_status=$?
    program_pid=""
    return 0
}

# Whatever happens, no program is left running.
finish() {
    if [ -n "$program_pid" ]; then
        kill -KILL "$program_pid" 2>/dev/null
        wait "$program_pid" 2>/dev/null
    fi
    cleanup
}
trap finish EXIT

start_xvfb "$screen"
echo "screen $screen on $DISPLAY, $mode"
if [ "$mode" = wine ]; then
    start_wine
fi

# What the window must show: the canvas for this screen size, drawn by the
# render tool of the same build.
if ! (cd "$work" && timeout -k 5 30 "${runner[@]}" "$render" --size "$screen" --output canvas.png \
          >render.log 2>&1 </dev/null); then
    echo "FAIL: the render tool failed:"
    cat "$work/render.log"
    exit 1
fi

launch
if ! window=$("$xtool" find Ostrevane 30000); then
    echo "FAIL: no window titled Ostrevane appeared; the program said:"
    tail -n 20 "$work/program.log"
    exit 1
fi
echo "window $window: $(xwininfo -id "$window" 2>/dev/null | sed -n 's/^ *-geometry //p')"

# The window is mapped before it is painted: give the first paint up to 20 s.
shown=""
paint_deadline=$((SECONDS + 20))
while [ $SECONDS -lt $paint_deadline ]; do
    if "$xtool" capture "$window" "$work/shown.png" 2>"$work/capture.err" &&
        "$compare" window "$work/shown.png" "$work/canvas.png" --require-lit >"$work/compare.txt"; then
        shown=yes
        break
    fi
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.2
done
if [ -n "$shown" ]; then
    echo "shows the figure: $(cat "$work/compare.txt")"
else
    fail "the window does not show the figure:"
    cat "$work/capture.err" "$work/compare.txt"
fi

# Typed keys: the figure, the window and the program stay as they were.
timeout 10 xdotool windowfocus --sync "$window" >/dev/null 2>&1 ||
    fail "cannot give the window the keyboard focus"
timeout 20 xdotool type --delay 10 "Hello, Ostrevane! q Q x 0123456789 -=[];'#,./" ||
    fail "xdotool could not type"
timeout 20 xdotool key --delay 10 Return Escape Tab BackSpace Delete space Up Down Left Right \
    Home End Prior Next Insert F1 F2 F5 F10 F11 F12 plus minus ctrl+c ctrl+w ctrl+q shift+Tab ||
    fail "xdotool could not press keys"
# Nothing tells when the keys have been handled; give them time.
sleep 1
if ! kill -0 "$program_pid" 2>/dev/null; then
    fail "typed keys ended the program"
else
    if ! "$xtool" capture "$window" "$work/after_keys.png" 2>"$work/capture.err"; then
        fail "the window is gone after typed keys:"
        cat "$work/capture.err"
    elif ! "$compare" same "$work/after_keys.png" "$work/shown.png" >"$work/compare.txt"; then
        fail "typed keys changed the window:"
        cat "$work/compare.txt"
    else
        echo "typed keys changed nothing"
    fi
fi

# Closing: WM_DELETE_WINDOW, as a window manager's close button sends it. A
# window manager sends it only to a window that lists it in WM_PROTOCOLS.
if kill -0 "$program_pid" 2>/dev/null; then
    if ! protocols=$("$xtool" protocols "$window"); then
        fail "cannot read the window's WM_PROTOCOLS"
    elif ! grep -qx WM_DELETE_WINDOW <<<"$protocols"; then
        fail "the window does not take WM_DELETE_WINDOW (WM_PROTOCOLS: ${protocols//$'\n'/ })"
    elif ! "$xtool" close "$window"; then
        fail "could not ask the window to close"
    elif ! wait_for_exit 30; then
        fail "the program did not end within 30 s of WM_DELETE_WINDOW"
    elif [ "$exit_status" -ne 0 ]; then
        fail "the program ended with exit status $exit_status after WM_DELETE_WINDOW"
    else
        echo "closed: exit status 0"
        "$xtool" exists "$window" 2>/dev/null && fail "the window is still there after the program ended"
    fi
fi

# Under Wine, show that typed keys do reach the window, so that the check
# above is not vacuous: Alt+F4, through the same path, closes it (Windows'
# DefWindowProc turns it into SC_CLOSE).
if [ "$mode" = wine ]; then
    launch
    if ! window=$("$xtool" find Ostrevane 30000); then
        fail "no window on the second start"
    else
        timeout 10 xdotool windowfocus --sync "$window" >/dev/null 2>&1
        timeout 10 xdotool key alt+F4
        if ! wait_for_exit 30; then
            fail "Alt+F4 did not end the program: typed keys do not reach the window"
        elif [ "$exit_status" -ne 0 ]; then
            fail "the program ended with exit status $exit_status after Alt+F4"
        else
            echo "typed keys reach the window: Alt+F4 closed it, exit status 0"
        fi
    fi
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed; the program said:"
    tail -n 20 "$work/program.log"
    exit 1
fi
echo "all program checks passed"
