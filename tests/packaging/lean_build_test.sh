#!/bin/bash
# A build on a machine without GoogleTest and Google Benchmark (their CMake
# packages disabled): configuring succeeds and says once what it skips, the
# build makes the program and the render tool and no other program, and the
# install puts them in place. The same configure with the test libraries
# required (as scripts/test.sh's preset does) must fail instead.
#
# Usage: tests/packaging/lean_build_test.sh [BUILD_DIR]   (default build/lean-check)
set -uo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build/lean-check}
fail() {
    echo "lean_build_test: FAILED - $*"
    exit 1
}
without=(-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)

rm -rf "$dir" "$dir-required" "$dir-install"
cmake -S . -B "$dir" "${without[@]}" -DOSTREVANE_WERROR=ON >"$dir.log" 2>&1 ||
    { cat "$dir.log"; fail "configure without the test libraries"; }
count=$(grep -c 'Skipping tests .* and benchmarks' "$dir.log")
[ "$count" -eq 1 ] || fail "configure said $count times that it skips tests and benchmarks"
echo "ok - configures without GoogleTest and Google Benchmark: $(grep 'Skipping' "$dir.log")"

cmake --build "$dir" -j "$(nproc)" >"$dir.log" 2>&1 || { tail -30 "$dir.log"; fail "build"; }
mapfile -t programs < <(find "$dir" -path "$dir/CMakeFiles" -prune -o -type f -perm -u+x \
    -newer "$dir/CMakeCache.txt" ! -name '*.so' ! -name '*.sh' -print | grep -v '/CMakeFiles/' |
    sed "s|^$dir/||" | sort)
[ "${programs[*]}" = "ostrevane tools/ostrevane-render" ] ||
    fail "the build made these programs: ${programs[*]} (expected ostrevane, tools/ostrevane-render)"
echo "ok - the build makes exactly ostrevane and ostrevane-render"

cmake --install "$dir" --prefix "$PWD/$dir-install" >"$dir.log" 2>&1 || fail "install"
for want in bin/ostrevane bin/ostrevane-render share/applications/io.github.ostrevane.ostrevane.desktop \
    share/metainfo/io.github.ostrevane.ostrevane.metainfo.xml \
    share/man/man1/ostrevane.1.gz share/man/man1/ostrevane-render.1.gz \
    share/icons/hicolor/48x48/apps/ostrevane.png share/icons/hicolor/128x128/apps/ostrevane.png \
    share/icons/hicolor/256x256/apps/ostrevane.png share/doc/ostrevane/README.md \
    share/doc/ostrevane/LICENSE; do
    [ -f "$dir-install/$want" ] || fail "cmake --install did not install $want"
done
# The Wayland module, in a directory of its own under the library directory.
[ "$(find "$dir-install" -name ostrevane-wayland.so -path '*/lib*/ostrevane/*' | wc -l)" = 1 ] ||
    fail "cmake --install did not install the Wayland module"

# Debian's own files come only with the Debian package.
[ ! -e "$dir-install/share/doc/ostrevane/copyright" ] || fail "a plain install holds Debian's copyright"
# Icons are as big as their folder says.
for side in 48 128 256; do
    size=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' \
        "$dir-install/share/icons/hicolor/${side}x${side}/apps/ostrevane.png")
    [ "$size" = "${side}x${side}" ] || fail "the ${side}x${side} icon is $size"
done
echo "ok - cmake --install puts the programs, desktop entry, manual pages, icons and docs in place"

if cmake -S . -B "$dir-required" "${without[@]}" -DOSTREVANE_REQUIRE_TEST_DEPS=ON \
    >"$dir.log" 2>&1; then
    fail "configure with OSTREVANE_REQUIRE_TEST_DEPS=ON succeeded without GoogleTest"
fi
echo "ok - requiring the test libraries makes that configure fail"
rm -rf "$dir" "$dir-required" "$dir-install" "$dir.log"
