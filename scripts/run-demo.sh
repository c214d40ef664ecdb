#!/usr/bin/env bash
# Runs the demo in a window when a display is there; without one, runs it headless for a few
# seconds and leaves a screenshot and the sound of those seconds in OUTDIR, saying so.
# Usage: run-demo.sh BINARY DATADIR OUTDIR [ARGS...]
set -euo pipefail
binary=$1
data=$2
outdir=$3
shift 3
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$binary" --data "$data" "$@"
fi
mkdir -p "$outdir"
shot="$(cd "$outdir" && pwd)/screenshot.png"
sound="$(cd "$outdir" && pwd)/sound.wav"
echo "zentrix: no display found (DISPLAY and WAYLAND_DISPLAY are unset); running headless for 300 frames."
echo "zentrix: to see it in a window, run 'make run' on a desktop session."
"$binary" --data "$data" --headless --frames 300 --fixed-step 20 --screenshot "$shot" --audio-out "$sound" "$@"
echo "zentrix: headless run finished; last frame written to $shot, its sound to $sound"
