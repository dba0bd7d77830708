#!/bin/bash
# Builds Ostrevane (the program and the render tool only: the `lean` preset,
# no tests or benchmarks) and runs it on the desktop. Without a display it
# draws the figure into ostrevane.png instead and says how to run the window
# anyway.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake --preset lean
cmake --build --preset lean -j "$(nproc)"
# A Wayland compositor or an X server: the program picks one itself.
if [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${DISPLAY:-}" ] ||
    { [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -S "$XDG_RUNTIME_DIR/wayland-0" ]; }; then
    exec build/lean/ostrevane
fi
build/lean/tools/ostrevane-render --output ostrevane.png
echo "No display (neither WAYLAND_DISPLAY nor DISPLAY is set): the figure is in ostrevane.png."
echo "To run the window on a virtual screen: xvfb-run -a -s '-screen 0 1024x768x24' build/lean/ostrevane"
