#!/bin/bash
# Builds everything with warnings as errors and runs every test; then the
# lean build (no test libraries), the packages (scripts/package.sh: lintian,
# desktop-file-validate, appstreamcli, the zip's contents) and the Debian
# package's install, run and removal in a throwaway overlay of / that leaves
# this machine's packages as they were (needs root or password-less sudo);
# and the ARM builds and packages (arm64, armhf), whose programs the tests
# labelled arm64 and armhf run under qemu-aarch64 and qemu-arm. The test
# conformance.clang_cl compiles the Windows build's sources in Microsoft's
# dialect (the clang-cl preset).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
# The Windows build (MinGW-w64): its programs run under Wine beside the
# native ones in the conformance tests.
cmake --preset mingw -DOSTREVANE_WERROR=ON
cmake --build --preset mingw -j "$(nproc)"
# The ARM cross builds (build/arm64, build/armhf): the tests labelled with
# their architecture run them. An architecture whose libraries the Debian
# archive cannot give beside the host's at the moment (a package list
# caught in the middle of a mirror's sync, say) is built against a sysroot
# of them instead (scripts/deps.sh <arch>-sysroot), as its package is; one
# that cannot have either is left out. Each says so in one line.
cross_packaged=()
for arch in arm64 armhf; do
    sysroot=""
    if ! scripts/deps.sh "$arch"; then
        if ! scripts/deps.sh "$arch-sysroot"; then
            echo "test.sh: $arch left out: its libraries cannot be had from the archive now" >&2
            continue
        fi
        sysroot=$PWD/build/sysroot-$arch
        echo "test.sh: $arch built against $sysroot: its libraries cannot be installed beside the host's now" >&2
    fi
    cmake --preset "$arch" --fresh -DOSTREVANE_WERROR=ON -DOSTREVANE_CROSS_SYSROOT="$sysroot"
    cmake --build --preset "$arch" -j "$(nproc)"
    cross_packaged+=("$arch")
done
# The web version (dist/web/): the browser tests open it in Chromium,
# Firefox and WebKit.
scripts/web.sh -DOSTREVANE_WERROR=ON
# With the AppKit display, whose e2e tests run under GNUstep.
cmake --preset ci -DOSTREVANE_WINDOWS_BUILD_DIR="$PWD/build/mingw" -DOSTREVANE_APPKIT=ON
cmake --build --preset ci -j "$(nproc)"
ctest --preset ci -j "$(nproc)"
tests/packaging/lean_build_test.sh
scripts/package.sh
tests/packaging/install_test.sh "$(ls dist/ostrevane_*_"$(dpkg --print-architecture)".deb)"
for arch in "${cross_packaged[@]}"; do
    scripts/package.sh "$arch"
done
