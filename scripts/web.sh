#!/bin/bash
# Builds the web version of Ostrevane into dist/web/: index.html with its
# script and style, and the program as ostrevane.js and ostrevane.wasm.
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
mkdir -p dist/web
cp platform/backends/web/page/index.html platform/backends/web/page/ostrevane-page.js \
   platform/backends/web/page/ostrevane.css build/web/ostrevane.js build/web/ostrevane.wasm dist/web/
echo "The web version is in dist/web/ (serve it with: python3 -m http.server -d dist/web 8000)"
