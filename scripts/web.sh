#!/bin/bash
# Builds the web version of Ostrevane into dist/web/: index.html, which
# holds the page's script and style and the program with its WebAssembly
# module; the web app manifest and its icons, drawn by the render tool; and
# the service worker that keeps the page for use offline.
# Serve the folder with any static file server, for example
#   python3 -m http.server -d dist/web 8000
# and open http://localhost:8000/.
# Installs what it needs when missing (asking for root through sudo when not
# root). Arguments go to CMake's configure step (e.g. -DOSTREVANE_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh web
# Emscripten's JavaScript tools need Debian's Node.js modules (acorn), which
# another node on PATH would not find by itself.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
cmake --preset web "$@"
cmake --build --preset web -j "${JOBS:-2}"
rm -rf dist/web
mkdir -p dist
cp -r build/web/page dist/web
echo "The web version is in dist/web/ (serve it with: python3 -m http.server -d dist/web 8000)"
