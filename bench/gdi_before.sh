#!/bin/bash
# The GDI benchmark (bench/gdi_bench.cpp) of this tree against the same
# benchmark built on an older GDI, the two taking turns within one run: the
# median processor time of each case (less disturbed by other work on a
# shared machine than wall time), and now/before.
#
# Usage: bench/gdi_before.sh [BUILD_DIR] [ROUNDS]
#   BUILD_DIR  a configured tree with gdi_bench built (default: build/release)
#   ROUNDS     turns of each build (default: 5)
# BEFORE_COMMIT names the older GDI (default: 7265562, the last whole-block
# bitmaps); it is unpacked and built, release, in BEFORE_DIR (default:
# ${TMPDIR:-/tmp}/ostrevane-gdi-before), with this tree's benchmark source,
# and reused from there. The goal: every case 1.1x or less.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${2:-5}
commit=${BEFORE_COMMIT:-7265562}
scratch=${BEFORE_DIR:-${TMPDIR:-/tmp}/ostrevane-gdi-before}
now=$build/bench/gdi_bench
[ -x "$now" ] || { echo "gdi_before.sh: $now is not built" >&2; exit 1; }

if [ ! -f "$scratch/src/CMakeLists.txt" ]; then
    mkdir -p "$scratch/src"
    git archive "$commit" | tar -x -C "$scratch/src"
fi
cp bench/gdi_bench.cpp "$scratch/src/bench/gdi_bench.cpp"
if [ ! -f "$scratch/build/CMakeCache.txt" ]; then
    cmake -S "$scratch/src" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Release \
        -DOSTREVANE_WAYLAND=OFF -DOSTREVANE_BUILD_TESTS=OFF >"$scratch/configure.log"
fi
cmake --build "$scratch/build" -j2 --target gdi_bench >"$scratch/build.log" ||
    { echo "gdi_before.sh: the build of $commit failed (see $scratch/build.log)" >&2; exit 1; }
before=$scratch/build/bench/gdi_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((i = 0; i < rounds; i++)); do
    for side in now before; do
        binary=$now
        [ $side = before ] && binary=$before
        # name,iterations,real_time,cpu_time,... per case.
        "$binary" --benchmark_format=csv 2>/dev/null | awk -F, -v side=$side \
            'NR > 1 && $1 ~ /^"BM_/ { gsub(/"/, "", $1); print side, $1, $4 }' >>"$work/times"
    done
done
printf '%-24s %12s %12s %10s\n' case "now cpu ms" "before ms" now/before
awk '{ t[$1 " " $2] = t[$1 " " $2] " " $3; names[$2] = 1; order[++n] = $2 }
     function median(list,   v, k, c) {
         c = split(list, v, " ")
         for (i = 2; i <= c; i++) { k = v[i]; for (j = i - 1; j >= 1 && v[j] > k; j--) v[j + 1] = v[j]; v[j + 1] = k }
         return c % 2 ? v[(c + 1) / 2] : (v[c / 2] + v[c / 2 + 1]) / 2
     }
     END {
         for (i = 1; i <= n; i++) {
             name = order[i]
             if (seen[name]++) continue
             a = median(t["now " name]); b = median(t["before " name])
             printf "%-24s %12.3f %12.3f %9.2fx\n", name, a, b, (b > 0 ? a / b : 0)
         }
     }' "$work/times"
