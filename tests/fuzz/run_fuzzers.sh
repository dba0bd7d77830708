#!/bin/bash
# Builds the `fuzz` preset and runs every fuzzer for a bounded time, starting
# from its seed corpus (tests/fuzz/corpus/<fuzzer>/, never written to). Any
# finding (crash, sanitizer report, leak, timeout, out-of-memory) fails the
# run; its input is kept in build/fuzz/findings/<fuzzer>/ and printed as a
# path. Prints each fuzzer's execution count.
#
# Usage: tests/fuzz/run_fuzzers.sh [--seconds N] [--no-build] [--merge] [FUZZER...]
#   --seconds N  time per fuzzer (default: $FUZZ_SECONDS, else 60)
#   --no-build   use build/fuzz as it is
#   --merge      afterwards, fold what the run found into the seed corpora
#                (minimised; for a developer to review and commit)
#   FUZZER...    only these (default: every fuzzer)
#
# Exit status: 0 no finding, 1 a finding or a fuzzer that did not run, 2 bad
# usage.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

seconds=${FUZZ_SECONDS:-60}
build=1
merge=0
fuzzers=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=${2:-}; shift 2 ;;
        --no-build) build=0; shift ;;
        --merge) merge=1; shift ;;
        -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "run_fuzzers.sh: unknown option $1" >&2; exit 2 ;;
        *) fuzzers+=("$1"); shift ;;
    esac
done
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "run_fuzzers.sh: --seconds needs a positive whole number" >&2
    exit 2
fi
if [ ${#fuzzers[@]} -eq 0 ]; then
    fuzzers=(figure_fuzzer gdi_fuzzer window_fuzzer)
fi

if [ "$build" -eq 1 ]; then
    timeout 600 cmake --preset fuzz >/dev/null
    timeout 1200 cmake --build --preset fuzz -j 2 --target "${fuzzers[@]}"
fi

bin=$root/build/fuzz/tests/fuzz
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Longer inputs than libFuzzer's default start make longer call and event
# sequences; -len_control=0 lets them grow from the first minute.
common=(-timeout=10 -rss_limit_mb=2048 -max_len=1024 -len_control=0 -print_final_stats=1
        -print_pcs=0 -reload=0)

status=0
summary=()
total_runs=0
for fuzzer in "${fuzzers[@]}"; do
    program=$bin/$fuzzer
    seeds=$root/tests/fuzz/corpus/$fuzzer
    findings=$root/build/fuzz/findings/$fuzzer
    corpus=$work/$fuzzer
    mkdir -p "$corpus" "$findings"
    if [ ! -x "$program" ]; then
        echo "run_fuzzers.sh: $program is not built" >&2
        summary+=("$(printf '%-14s  not built' "$fuzzer")")
        status=1
        continue
    fi
    seed_count=$(find "$seeds" -type f 2>/dev/null | wc -l)
    log=$work/$fuzzer.log
    echo "== $fuzzer: ${seconds} s from $seed_count seeds"
    result=0
    # The outer bound covers libFuzzer's own start-up and its final report.
    timeout --kill-after=10 $((seconds + 60)) "$program" "${common[@]}" \
        -max_total_time="$seconds" -artifact_prefix="$findings/" \
        "$corpus" "$seeds" >"$log" 2>&1 || result=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    added=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
    artifacts=$(grep -o "Test unit written to .*" "$log" | sed 's/Test unit written to //' || true)
    if [ "$result" -ne 0 ] || [ -n "$artifacts" ]; then
        status=1
        echo "-- $fuzzer FOUND A FAULT (exit $result); last lines of its log:"
        grep -v -E '^#[0-9]+ +(NEW|REDUCE|pulse)' "$log" | tail -40
        for artifact in $artifacts; do
            echo "-- input: $artifact"
        done
        verdict="FINDING"
    else
        verdict="no finding"
    fi
    total_runs=$((total_runs + ${runs:-0}))
    summary+=("$(printf '%-14s %5s s %11s executions %7s/s %6s new inputs %6s MB peak  %s' \
        "$fuzzer" "$seconds" "${runs:-?}" "${rate:-?}" "${added:-?}" "${rss:-?}" "$verdict")")
    if [ "$merge" -eq 1 ] && [ "$result" -eq 0 ]; then
        mkdir -p "$seeds"
        # Edges only (no hit counts): a small corpus that reaches everything
        # the run reached.
        timeout 600 "$program" -merge=1 -use_counters=0 -max_len=512 -rss_limit_mb=2048 -timeout=10 \
            "$seeds" "$corpus" >"$work/$fuzzer.merge.log" 2>&1 ||
            echo "run_fuzzers.sh: merging into $seeds failed" >&2
        echo "-- $fuzzer seed corpus: $(find "$seeds" -type f | wc -l) inputs"
    fi
done

echo
echo "Fuzzing summary:"
printf '  %s\n' "${summary[@]}"
echo "  total: $total_runs executions"
exit $status
