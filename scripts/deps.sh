#!/bin/bash
# Installs the Debian packages a task needs, only those missing.
# Usage: scripts/deps.sh run|test|harden|package|web
set -euo pipefail

# The program and the render tool, on X11 and on Wayland.
build=(cmake g++ make pkg-config libx11-dev libxrandr-dev libxext-dev libxdamage-dev libpng-dev
       libx11-xcb-dev libxcb-randr0-dev
       libstb-dev libwayland-dev wayland-protocols libxkbcommon-dev libdecor-0-dev
       libdecor-0-plugin-1-cairo)
# The tests and the benchmarks.
testlibs=(googletest libgtest-dev libbenchmark-dev)
run=(xvfb xauth)
test=(xvfb xauth xdotool x11-utils python3 clang-format
      # Wayland compositors, their screenshot and typing tools; Xwayland for
      # the X11 display under a compositor that goes away.
      weston sway grim xwayland wtype
      # The Windows build and Wine, the reference the conformance tests hold
      # platform/ to.
      g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64
      # The web build and the browser that the web end-to-end tests drive.
      emscripten chromium chromium-driver python3-selenium
      # A reparenting window manager and its command-line client.
      openbox wmctrl)
# The Debian package and the Windows zip, and their checks.
package=(dpkg-dev fakeroot file gzip lintian desktop-file-utils man-db
         g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 python3 xvfb xauth)

# Sanitizers and fuzzers (clang), memcheck, and the X tools of the hostile tests.
harden=(clang libclang-rt-14-dev valgrind xvfb xauth xdotool x11-utils python3
        weston sway grim wtype libdecor-0-plugin-1-cairo)

# The web version (scripts/web.sh): Emscripten alone, none of the native
# libraries.
web=(cmake make emscripten)

case "${1:-}" in
    run) wanted=("${build[@]}" "${run[@]}") ;;
    test) wanted=("${build[@]}" "${testlibs[@]}" "${test[@]}" "${package[@]}") ;;
    harden) wanted=("${build[@]}" "${testlibs[@]}" "${harden[@]}") ;;
    package) wanted=("${build[@]}" "${package[@]}") ;;
    web) wanted=("${web[@]}") ;;
    *) echo "usage: scripts/deps.sh run|test|harden|package|web" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "deps.sh: need root or sudo to install ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
timeout 600 $sudo apt-get update -qq
timeout 1800 $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
