# shellcheck shell=bash
# Shared by the conformance test scripts (sourced, not run): skipping or
# failing when something is missing, a private X server, and Wine runs that
# always end.
#
# Every script that sources this gets a work directory in $work and an EXIT
# trap that stops the X server and the Wine server it started and removes
# $work.

# CTest's code for "skipped" (SKIP_RETURN_CODE in CMakeLists.txt).
readonly SKIPPED=77

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-conformance.XXXXXX")
xvfb_pid=""
wine_started=""

cleanup() {
    if [ -n "$wine_started" ]; then
        timeout 30 wineserver -k >/dev/null 2>&1
        # -k only asks; wait for it to be gone so the next test may start one.
        timeout 30 wineserver -w >/dev/null 2>&1
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The scripts run programs from inside $work: paths given relative to where
# the script was started must still lead to them.
absolute() {
    realpath -m -- "$1"
}

# Missing tools or files: in CI (CI=true) the test fails, since a missing
# tool there means the run did not check what it claims; elsewhere it is
# skipped, saying why.
unavailable() {
    if [ "${CI:-}" = true ]; then
        echo "FAIL: $* (CI runs every conformance test)"
        exit 1
    fi
    echo "SKIP: $*"
    exit "$SKIPPED"
}

need_tools() {
    local missing=()
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    [ ${#missing[@]} -eq 0 ] || unavailable "not installed: ${missing[*]} (scripts/deps.sh test installs them)"
}

# Windows programs come from the Windows build that scripts/test.sh makes,
# named by the path a single-configuration build gives them
# (build/mingw/tools/ostrevane-render.exe). A multi-configuration build
# (Visual Studio's) puts them in a Release folder there instead
# (build/msvc/tools/Release/ostrevane-render.exe): this prints the path that
# holds the program.
windows_file() {
    local release
    release=$(dirname "$1")/Release/$(basename "$1")
    if [ ! -f "$1" ] && [ -f "$release" ]; then
        echo "$release"
    else
        echo "$1"
    fi
}

need_windows_files() {
    local file
    for file in "$@"; do
        [ -f "$file" ] || unavailable "no $file: build the mingw preset and configure with -DOSTREVANE_WINDOWS_BUILD_DIR=build/mingw"
    done
}

# Starts Xvfb with one screen of the given size (WxH) on a free display and
# exports DISPLAY. Xvfb itself picks the display and says which when it is
# ready to take clients (-displayfd), so there is no guessing and no sleep.
start_xvfb() {
    local size=$1
    need_tools Xvfb
    # Bounded even if this script is killed before its trap can stop it.
    timeout -k 5 900 Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local waited=0
    while ! grep -q '^[0-9]' "$work/display" 2>/dev/null; do
        if ! kill -0 "$xvfb_pid" 2>/dev/null || [ $waited -ge 100 ]; then
            echo "FAIL: Xvfb did not start:"
            cat "$work/xvfb.log"
            exit 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
}

# Wine's own chatter stays out of the test's output, and no installer for
# Mono or Gecko is ever offered.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="

need_wine() {
    need_tools wine wineserver wineboot
    [ -n "${WINEPREFIX:-}" ] || { echo "FAIL: WINEPREFIX is not set (CTest sets it)"; exit 1; }
    [ -f "$WINEPREFIX/system.reg" ] ||
        { echo "FAIL: the Wine prefix $WINEPREFIX was not made (conformance.wine_prefix_setup)"; exit 1; }
}

# Brings up the Wine server and its desktop process for the current DISPLAY
# (or for none), before anything is timed or waited for. Its output goes to a
# file: the server keeps inherited pipes open long after the program ends.
start_wine() {
    wine_started=yes
    if ! timeout 60 wineboot >"$work/wineboot.log" 2>&1; then
        echo "FAIL: wineboot did not come up:"
        tail -n 20 "$work/wineboot.log"
        exit 1
    fi
}

# Runs a Windows console program to completion, its output in files, never
# through a pipe. Usage: run_wine SECONDS OUT ERR PROGRAM ARGS...
run_wine() {
    local seconds=$1 out=$2 err=$3
    shift 3
    timeout -k 5 "$seconds" wine "$@" >"$out" 2>"$err" </dev/null
}
