#!/bin/bash
# Builds Ostrevane and runs it on the desktop. Without a display it draws the
# figure into ostrevane.png instead and says how to run the window anyway.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake --preset default
cmake --build --preset default -j "$(nproc)"
if [ -x build/release/ostrevane ] && [ -n "${DISPLAY:-}" ]; then
    exec build/release/ostrevane
fi
build/release/tools/ostrevane-render --output ostrevane.png
echo "No display (DISPLAY is not set): the figure is in ostrevane.png."
echo "To run the window on a virtual screen: xvfb-run -a -s '-screen 0 1024x768x24' build/release/ostrevane"
