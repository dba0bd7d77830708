#!/bin/bash
# The long hardening runs, for CI after scripts/test.sh:
#   1. everything built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (the `asan` preset) and the whole test suite run on it, including
#      the hostile-condition tests on Xvfb (tests/hostile);
#   2. every fuzzer for a bounded time (tests/fuzz/run_fuzzers.sh);
#   3. valgrind's memcheck over the render tool and the program's window
#      lifecycle, headless and on Xvfb (the `memcheck` preset), which also
#      runs the hostile tests of the AppKit display under GNUstep.
# Installs what it needs when missing (asking for root through sudo when not
# root). Every step runs even if an earlier one failed; the exit status is 1
# if any failed. Ends with the figures of the run (fuzz executions, storm
# events, ...), the ones docs/hardening.md records.
#
# Usage: scripts/harden.sh [--fuzz-seconds N]   (default: $FUZZ_SECONDS, else 60)
set -uo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=${FUZZ_SECONDS:-60}
while [ $# -gt 0 ]; do
    case "$1" in
        --fuzz-seconds) fuzz_seconds=${2:-}; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "usage: scripts/harden.sh [--fuzz-seconds N]" >&2; exit 2 ;;
    esac
done

# --- What the runs need ----------------------------------------------------------
scripts/deps.sh harden || exit 1

# --- The steps -------------------------------------------------------------------
started=$(date +%s)
failed=()
timings=()
step() {
    local name=$1
    shift
    local begin
    begin=$(date +%s)
    echo
    echo "=== $name"
    if ! "$@"; then
        failed+=("$name")
        echo "=== $name FAILED"
    fi
    timings+=("$(printf '%-34s %4d s' "$name" $(($(date +%s) - begin)))")
}

asan_ctest() {
    # The whole suite; a sanitizer report aborts the test that made it.
    timeout 1800 ctest --preset asan -j 2
}

step "asan: configure" timeout 600 cmake --preset asan
step "asan: build" timeout 1800 cmake --build --preset asan -j 2
step "asan: every test" asan_ctest
fuzz_log=$(mktemp "${TMPDIR:-/tmp}/ostrevane-harden-fuzz.XXXXXX")
trap 'rm -f "$fuzz_log"' EXIT
step "fuzz: build and run" bash -o pipefail -c \
    "tests/fuzz/run_fuzzers.sh --seconds '$fuzz_seconds' | tee '$fuzz_log'"
# With the AppKit display (GNUstep's), which the sanitizer build cannot
# have (its Objective-C++ is g++'s, for GCC's run-time): its hostile runs go
# here, before the memcheck tests whose log the record below reads.
step "memcheck: configure" timeout 600 cmake --preset memcheck -DOSTREVANE_APPKIT=ON
step "memcheck: build" timeout 1800 cmake --build --preset memcheck -j 2
step "appkit: hostile" timeout 1800 ctest --test-dir build/memcheck -L hostile -R appkit
step "memcheck: tests" timeout 1800 ctest --preset memcheck -j 2

# --- The record ------------------------------------------------------------------
echo
echo "=== Figures of this run"
sed -n '/^Fuzzing summary:/,$p' "$fuzz_log"
asan_log=build/asan/Testing/Temporary/LastTest.log
if [ -f "$asan_log" ]; then
    echo "Hostile conditions (asan build):"
    grep -o 'hostile: .*' "$asan_log" | sed 's/^hostile: /  /'
    echo "Test results (asan build): $(grep -c '^Test Passed' "$asan_log") passed," \
         "$(grep -c '^Test Failed' "$asan_log") failed"
fi
memcheck_log=build/memcheck/Testing/Temporary/LastTest.log
if [ -f "$memcheck_log" ]; then
    echo "Memcheck:"
    grep -o 'ok - memcheck clean.*\|FAILED - memcheck.*' "$memcheck_log" | sed 's/^/  /'
fi
echo
echo "=== Time"
printf '  %s\n' "${timings[@]}"
echo "  total: $(($(date +%s) - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "All hardening runs passed."
