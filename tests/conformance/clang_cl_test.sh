#!/bin/bash
# Microsoft's dialect: the clang-cl preset, configured into BUILD_DIR, must
# compile every source of the Windows build with clang-cl against Wine's
# headers, warnings as errors; and the figure's arithmetic built for AVX2
# (ostrevane_figure_widest) must hold no fused multiply-add, contraction
# being off for clang-cl.
# Usage: clang_cl_test.sh CMAKE SOURCE_DIR BUILD_DIR
set -u
[ $# -eq 3 ] || { echo "usage: clang_cl_test.sh CMAKE SOURCE_DIR BUILD_DIR" >&2; exit 2; }
cmake=$1 source=$2 build=$3
# shellcheck source-path=SCRIPTDIR source=conformance_lib.sh
source "$(dirname "$0")/conformance_lib.sh"
need_tools llvm-objdump llvm-lib llvm-rc
compgen -G '/usr/lib/llvm-*/bin/clang-cl' >/dev/null || need_tools clang-cl
[ -f /usr/include/wine/wine/windows/windows.h ] || unavailable "no Wine's Windows headers (libwine-dev)"
compgen -G '/usr/lib/llvm-*/include/c++/v1/vector' >/dev/null || unavailable "no libc++ headers (libc++-dev)"

if ! "$cmake" -S "$source" -B "$build" --preset clang-cl >"$work/configure.log" 2>&1; then
    echo "FAIL: the clang-cl preset does not configure:"
    cat "$work/configure.log"
    exit 1
fi
if ! "$cmake" --build "$build" -j 2 --target all ostrevane_figure_widest >"$work/build.log" 2>&1; then
    echo "FAIL: clang-cl does not compile the Windows build clean:"
    grep -E 'error|warning' "$work/build.log" || cat "$work/build.log"
    exit 1
fi
echo "ok   $(grep -c 'Building CXX object' "$work/build.log") C++ objects and" \
    "$(grep -c 'Building RC object' "$work/build.log") resources compiled at /W4 /WX /permissive-"

failures=0 vector=0
for object in "$build"/CMakeFiles/ostrevane_figure_widest.dir/*/*.obj; do
    llvm-objdump -d "$object" >"$work/disassembly" || { echo "FAIL: cannot read $object"; exit 1; }
    fused=$(grep -cE '[[:space:]]vfn?m(add|sub)' "$work/disassembly")
    vector=$((vector + $(grep -cE '[[:space:]]v(add|sub|mul|div)sd' "$work/disassembly")))
    if [ "$fused" -ne 0 ]; then
        echo "FAIL: $(basename "$object") built for AVX2 holds $fused fused multiply-adds:"
        grep -E '[[:space:]]vfn?m(add|sub)' "$work/disassembly" | head -n 5
        failures=$((failures + 1))
    fi
done
# Without AVX instructions the objects would prove nothing about fusing.
[ "$vector" -gt 0 ] || { echo "FAIL: the widest figure build holds no AVX arithmetic"; exit 1; }
[ $failures -eq 0 ] || exit 1
echo "ok   the figure built for AVX2: $vector AVX double operations, none fused"
