#!/bin/bash
# Builds everything with warnings as errors and runs every test; then the
# lean build (no test libraries), the packages (scripts/package.sh: lintian,
# desktop-file-validate, appstreamcli, the zip's contents) and the Debian
# package's install, run and removal in a throwaway overlay of / that leaves
# this machine's packages as they were (needs root or password-less sudo);
# and the arm64 build and package, whose programs the arm64 tests run under
# qemu-aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
# The Windows build (MinGW-w64): its programs run under Wine beside the
# native ones in the conformance tests.
cmake --preset mingw -DOSTREVANE_WERROR=ON
cmake --build --preset mingw -j "$(nproc)"
# The arm64 cross build (build/arm64): the tests labelled arm64 run it.
scripts/deps.sh arm64
cmake --preset arm64 -DOSTREVANE_WERROR=ON
cmake --build --preset arm64 -j "$(nproc)"
# The web version (dist/web/): the browser tests open it in headless
# Chromium.
scripts/web.sh -DOSTREVANE_WERROR=ON
# With the AppKit display, whose e2e tests run under GNUstep.
cmake --preset ci -DOSTREVANE_WINDOWS_BUILD_DIR="$PWD/build/mingw" -DOSTREVANE_APPKIT=ON
cmake --build --preset ci -j "$(nproc)"
ctest --preset ci -j "$(nproc)"
tests/packaging/lean_build_test.sh
scripts/package.sh
tests/packaging/install_test.sh "$(ls dist/ostrevane_*_"$(dpkg --print-architecture)".deb)"
scripts/package.sh arm64
