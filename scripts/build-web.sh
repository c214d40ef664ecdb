#!/usr/bin/env bash
# make web: the browser build in BUILD/web (index.html, zentrix.js, zentrix.wasm, zentrix.data),
# on the bundled data set that the landscape tool of BUILD writes into BUILD/web-data.
# Usage: build-web.sh BUILD JOBS
set -euo pipefail
build=$1
jobs=${2:-2}
if ! command -v emcmake >/dev/null 2>&1; then
  echo "zentrix: make web needs emscripten (scripts/install-deps.sh web installs it)" >&2
  exit 1
fi
# Debian's node does not search Debian's own module folder, where emscripten's acorn lies.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
data=$build/web-data
tool=$build/zentrix-landscape
# Written again only when the tool is newer than the set, so the page is not linked anew each time.
if [ ! -e "$data/Terrain.txt" ] || [ "$tool" -nt "$data/Terrain.txt" ]; then
  rm -rf -- "$data"
  "$tool" --seed 1 --out "$data" >/dev/null
  # The music at half the rate in one channel: a quarter of the bytes to send.
  python3 scripts/web-sound.py "$data/Backgroundmusic.wav" "$data/Backgroundmusic.wav.new"
  mv -- "$data/Backgroundmusic.wav.new" "$data/Backgroundmusic.wav"
fi
emcmake cmake -S . -B "$build/web-build" -DCMAKE_BUILD_TYPE=Release -DZENTRIX_WEB_DATA="$(realpath "$data")" \
  -DZENTRIX_WEB_OUT="$(realpath -m "$build/web")" >/dev/null
cmake --build "$build/web-build" -j "$jobs"
echo "zentrix: the page is in $build/web (make serve shows it)"
