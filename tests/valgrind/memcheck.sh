#!/bin/bash
# Runs a command under valgrind's memcheck and fails on any invalid access,
# use of uninitialised memory, or memory still allocated at exit that
# tests/valgrind/ostrevane.supp does not name. The command's own exit status
# must be the expected one.
#
# Usage: memcheck.sh EXPECTED_STATUS COMMAND [ARGS...]
#   (stdout of the command goes to /dev/null; its stderr and valgrind's
#   report are shown)
# Exit status: 0 clean, 1 an error or an unexpected status, 77 no valgrind
# (a failure under CI=true).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
expected=$1
shift

if ! command -v valgrind >/dev/null; then
    if [ "${CI:-}" = "true" ]; then
        echo "memcheck.sh: valgrind is not installed (scripts/harden.sh installs it)" >&2
        exit 1
    fi
    echo "skipped - valgrind is not installed"
    exit 77
fi

# 99 is kept for valgrind's own verdict; leaks of every kind count as
# errors, so that anything left allocated at exit must be named in the
# suppression file with its reason.
log=$(mktemp "${TMPDIR:-/tmp}/ostrevane-memcheck.XXXXXX")
trap 'rm -f "$log"' EXIT
timeout 300 valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
    --show-leak-kinds=all --errors-for-leak-kinds=all --track-origins=yes \
    --num-callers=40 --suppressions="$here/ostrevane.supp" --gen-suppressions=all \
    --log-file="$log" "$@" >/dev/null
status=$?
sed -n '/ERROR SUMMARY/p' "$log"
if [ "$status" -eq 99 ]; then
    echo "FAILED - memcheck found errors in: $*"
    cat "$log"
    exit 1
fi
if [ "$status" -ne "$expected" ]; then
    echo "FAILED - exit status $status, expected $expected: $*"
    cat "$log"
    exit 1
fi
grep -E "in use at exit" "$log" | sed 's/^==[0-9]*== */  /'
echo "ok - memcheck clean, exit status $status: $*"
