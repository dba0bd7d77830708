#!/bin/bash
# Builds Ostrevane and runs it. Without a display it draws the figure into
# ostrevane.png instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake --preset default
cmake --build --preset default -j "$(nproc)"
if [ -x build/release/ostrevane ] && [ -n "${DISPLAY:-}" ]; then
    exec build/release/ostrevane
fi
build/release/ostrevane-render --output ostrevane.png
echo "No display: the figure is in ostrevane.png (for the window, run under xvfb-run or on a desktop)."
