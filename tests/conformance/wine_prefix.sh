#!/bin/bash
# Makes (setup) or removes (cleanup) the Wine prefix the conformance tests
# share, so that each test run starts from a fresh one and leaves no Wine
# server behind.
# Usage: wine_prefix.sh setup|cleanup PREFIX
set -u
action=${1:-}
prefix=${2:-}
if [ -z "$prefix" ] || [ "$prefix" = / ]; then
    echo "usage: wine_prefix.sh setup|cleanup PREFIX" >&2
    exit 2
fi
# shellcheck source-path=SCRIPTDIR source=conformance_lib.sh
source "$(dirname "$0")/conformance_lib.sh"
export WINEPREFIX=$prefix
unset DISPLAY

# Ends whatever Wine server a previous or interrupted run left on the prefix.
stop_server() {
    if command -v wineserver >/dev/null 2>&1 && [ -d "$prefix" ]; then
        timeout 30 wineserver -k >/dev/null 2>&1
        timeout 30 wineserver -w >/dev/null 2>&1
    fi
    return 0
}

# The Wine server leaves its (then empty) socket folder behind, named after
# the prefix's device and inode: remove those of this prefix only.
remove_server_dirs() {
    [ -d "$prefix" ] || return 0
    local dev ino dir
    dev=$(stat -c %D "$prefix") || return 0
    ino=$(printf '%x' "$(stat -c %i "$prefix")")
    for dir in "${TMPDIR:-/tmp}"/wine-*/server-"$dev-$ino" /tmp/wine-*/server-"$dev-$ino"; do
        [ -d "$dir" ] || continue
        rm -rf "$dir"
        rmdir "$(dirname "$dir")" 2>/dev/null
    done
    return 0
}

case "$action" in
    setup)
        need_tools wine wineserver wineboot
        stop_server
        remove_server_dirs
        rm -rf "$prefix"
        # No display: the prefix is made once, then each test brings Wine up
        # on its own X server.
        if ! timeout 300 wineboot -i >"$work/wineboot.log" 2>&1; then
            echo "FAIL: wineboot -i could not make $prefix:"
            tail -n 20 "$work/wineboot.log"
            stop_server
            exit 1
        fi
        stop_server
        [ -f "$prefix/system.reg" ] || { echo "FAIL: $prefix has no registry after wineboot -i"; exit 1; }
        echo "made the Wine prefix $prefix ($(wine --version))"
        ;;
    cleanup)
        stop_server
        remove_server_dirs
        rm -rf "$prefix"
        echo "removed the Wine prefix $prefix"
        ;;
    *)
        echo "usage: wine_prefix.sh setup|cleanup PREFIX" >&2
        exit 2
        ;;
esac
