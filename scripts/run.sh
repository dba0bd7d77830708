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
if [ -x build/lean/ostrevane ] && [ -n "${DISPLAY:-}" ]; then
    exec build/lean/ostrevane
fi
build/lean/tools/ostrevane-render --output ostrevane.png
echo "No display (DISPLAY is not set): the figure is in ostrevane.png."
echo "To run the window on a virtual screen: xvfb-run -a -s '-screen 0 1024x768x24' build/lean/ostrevane"
